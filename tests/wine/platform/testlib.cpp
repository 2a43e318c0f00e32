// Library loaded by bare name in the platform test.
extern "C" __declspec(dllexport) int qv_test_answer() { return 42; }
