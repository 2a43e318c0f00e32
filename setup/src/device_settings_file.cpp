#include "device_settings_file.h"

#include <cstdio>
#include <cstring>

#include "settings_store.h"

namespace qv::setup {

namespace {

constexpr const char* kVendorSection = "VendorInformation";
constexpr const char* kDevicesKey = "Devices";
constexpr const char* kParamsKey = "DeviceParams";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One %u conversion: white space, optional sign, decimal digits; saturates like strtoul on a
// 32-bit unsigned long and wraps a minus sign the same way.
bool ScanUnsigned(const char*& p, uint32_t& out) {
  while (IsSpace(*p)) ++p;
  bool negative = false;
  const char* q = p;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  if (!IsDigit(*q)) return false;
  uint64_t v = 0;
  bool overflow = false;
  for (; IsDigit(*q); ++q) {
    v = v * 10 + static_cast<uint64_t>(*q - '0');
    if (v > 0xFFFFFFFFull) { overflow = true; v = 0xFFFFFFFFull; }
  }
  p = q;
  if (overflow) out = 0xFFFFFFFFu;
  else out = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(v)) : static_cast<uint32_t>(v);
  return true;
}

void SectionOf(int device, char* out, size_t size) {
  std::snprintf(out, size, "DeviceInformation%d", device);
}

// Reads a device's DeviceParams; false when absent, empty or possibly cut by the read size.
bool ReadParams(SetupState& s, int device, DeviceParams& params, bool forRewrite) {
  char section[40];
  SectionOf(device, section, sizeof section);
  char value[kReadSize + 1] = {};
  uint32_t n = s.store->ReadString(section, kParamsKey, value, sizeof value, s.WorkingFilePath);
  if (n == 0) return false;
  // A value that filled the whole read may have lost its tail: never write it back shortened.
  if (forRewrite && n >= kReadSize) return false;
  return ScanDeviceParams(value, params);
}

FieldWrite WriteParams(SetupState& s, int device, const DeviceParams& p, uint32_t address,
                       bool withChannel, uint32_t channel) {
  char section[40];
  SectionOf(device, section, sizeof section);
  char value[kPathSize];
  if (withChannel)
    std::snprintf(value, sizeof value, "%s,%u,%u,%u,%u", p.portName, p.field[0], address,
                  p.field[2], channel);
  else
    std::snprintf(value, sizeof value, "%s,%u,%u,%u", p.portName, p.field[0], address,
                  p.field[2]);
  return s.store->WriteString(section, kParamsKey, value, s.WorkingFilePath)
             ? FieldWrite::Written
             : FieldWrite::Failed;
}

// Reads the working copy's device list; -1 when it is refused.
int ReadDeviceList(SetupState& s, int* devices) {
  char list[kReadSize + 1] = {};
  uint32_t n = s.store->ReadString(kVendorSection, kDevicesKey, list, sizeof list, s.WorkingFilePath);
  if (n == 0) return 0;
  if (n >= kReadSize) return -1;  // cut by the read: the last piece may be wrong
  return SplitDeviceList(list, devices, kMaxDevices);
}

}  // namespace

bool ScanDeviceParams(const char* value, DeviceParams& out) {
  out = DeviceParams{};
  const char* p = value;
  auto sep = [](char c) { return c == ',' || IsSpace(c); };
  while (*p != '\0' && sep(*p)) ++p;
  if (*p == '\0') return true;  // nothing scanned
  size_t len = 0;
  while (p[len] != '\0' && !sep(p[len])) ++len;
  if (len > kMaxPortNameLength) return false;
  std::memcpy(out.portName, p, len);
  out.portName[len] = '\0';
  out.scanned = 1;
  p += len;
  // The rest as "%u %u %u %u" with every comma read as a space.
  char rest[kReadSize + 1];
  size_t i = 0;
  for (; p[i] != '\0' && i < kReadSize; ++i) rest[i] = p[i] == ',' ? ' ' : p[i];
  rest[i] = '\0';
  const char* r = rest;
  for (int f = 0; f < 4; ++f) {
    if (!ScanUnsigned(r, out.field[f])) break;
    out.scanned = 2 + f;
  }
  return true;
}

int SplitDeviceList(const char* list, int* devices, size_t maxDevices) {
  size_t count = 0;
  const char* p = list;
  for (;;) {
    const char* end = p;
    while (*end != '\0' && *end != ',' && *end != ' ') ++end;
    size_t len = static_cast<size_t>(end - p);
    // A trailing separator leaves no piece after it.
    if (*end == '\0' && len == 0 && p != list) break;
    if (count == maxDevices) return -1;
    int device = -1;
    if (len <= kMaxPieceLength) {
      char piece[kMaxPieceLength + 1];
      std::memcpy(piece, p, len);
      piece[len] = '\0';
      // atoi, without its undefined overflow: digits past the range give -1.
      const char* q = piece;
      while (IsSpace(*q)) ++q;
      bool negative = false;
      if (*q == '+' || *q == '-') negative = *q++ == '-';
      int64_t v = 0;
      for (; IsDigit(*q) && v <= 0x7FFFFFFF; ++q) v = v * 10 + (*q - '0');
      device = v > 0x7FFFFFFF ? -1 : static_cast<int>(negative ? -v : v);
    }
    devices[count++] = device;
    if (*end == '\0') break;
    p = end + 1;
  }
  return static_cast<int>(count);
}

void PointAtWindowsCopy(SetupState& s) {
  std::snprintf(s.WorkingFilePath, sizeof s.WorkingFilePath, "%s", kIniFileName);
}

void PointAtVirtualCopy(SetupState& s) {
  std::snprintf(s.WorkingFilePath, sizeof s.WorkingFilePath, "%s", s.VirtualFilePath);
}

void DecideIniCopies(SetupState& s) {
  s.IsVirtualFile = 0;
  s.VirtualFilePath[0] = '\0';
  char base[kPathSize];
  if (s.store->GetEnv("LOCALAPPDATA", base, sizeof base)) {
    const char sep = s.store->PathSeparator();
    int n = std::snprintf(s.VirtualFilePath, sizeof s.VirtualFilePath,
                          "%s%cVirtualStore%cWindows%c%s", base, sep, sep, sep, kIniFileName);
    if (n < 0 || static_cast<size_t>(n) >= sizeof s.VirtualFilePath) {
      // Too long for the path buffer: the per-user copy is not used at all.
      s.VirtualFilePath[0] = '\0';
    } else {
      char list[kReadSize + 1] = {};
      if (s.store->ReadString(kVendorSection, kDevicesKey, list, sizeof list, s.VirtualFilePath) > 0)
        s.IsVirtualFile = 1;
    }
  }
  PointAtWindowsCopy(s);
}

int Get_COM(SetupState& s, int device) {
  DeviceParams p;
  if (!ReadParams(s, device, p, false) || p.scanned < 1) return 0;
  if (std::strlen(p.portName) <= 3) return 0;  // no text after "COM"
  const char* q = p.portName + 3;
  bool negative = false;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  int v = 0;
  for (; IsDigit(*q) && v <= 99; ++q) v = v * 10 + (*q - '0');
  // Only 1..99 is a port number; anything else would wrap into one when narrowed.
  if (negative || v < 1 || v > 99) return 0;
  return v;
}

int8_t Read_Device_Channel(SetupState& s, int device) {
  DeviceParams p;
  if (!ReadParams(s, device, p, false) || p.scanned != 5) return 0;
  return static_cast<int8_t>(p.field[3] & 0xFF);
}

FieldWrite Change_Device_Address(SetupState& s, int device, uint32_t address) {
  DeviceParams p;
  if (device < 0 || !ReadParams(s, device, p, true)) return FieldWrite::Skipped;
  if (p.scanned == 4) return WriteParams(s, device, p, address, false, 0);
  if (p.scanned == 5) return WriteParams(s, device, p, address, true, p.field[3]);
  // Fewer than four fields cannot be written back in either form: left as it is.
  return FieldWrite::Skipped;
}

FieldWrite Change_Device_Channel(SetupState& s, int device, uint32_t channel) {
  DeviceParams p;
  if (device < 0 || !ReadParams(s, device, p, true)) return FieldWrite::Skipped;
  if (p.scanned < 4) return FieldWrite::Skipped;
  return WriteParams(s, device, p, p.field[1], true, channel);
}

namespace {

template <typename Rewrite>
ListWrite ForListedDevices(SetupState& s, Rewrite rewrite) {
  ListWrite out;
  int devices[kMaxDevices];
  const int n = ReadDeviceList(s, devices);
  out.hasList = n > 0;
  for (int i = 0; i < n; ++i) {
    switch (rewrite(devices[i])) {
      case FieldWrite::Written: out.written[out.writtenCount++] = devices[i]; break;
      case FieldWrite::Skipped: out.skipped[out.skippedCount++] = devices[i]; break;
      case FieldWrite::Failed: out.failed = true; break;
    }
  }
  return out;
}

ListWrite ChangeChannelOfListedDevices(SetupState& s, uint32_t channel) {
  return ForListedDevices(s, [&](int d) { return Change_Device_Channel(s, d, channel); });
}

}  // namespace

ListWrite ChangeAddressOfListedDevices(SetupState& s, uint32_t address) {
  return ForListedDevices(s, [&](int d) { return Change_Device_Address(s, d, address); });
}

int SetIniCH(SetupState& s, uint32_t channel, ListWrite* report) {
  PointAtWindowsCopy(s);
  ListWrite w = ChangeChannelOfListedDevices(s, channel);
  if (report != nullptr) report[0] = w;
  if (s.IsVirtualFile) {
    PointAtVirtualCopy(s);
    w = ChangeChannelOfListedDevices(s, channel);
    if (report != nullptr) report[1] = w;
  }
  return 1;
}

}  // namespace qv::setup
