/* QV121032: the RP1210 interface library of the QvLink adapter.
 *
 * The eight RP1210 entry points and three of RP1210C, exported undecorated; on 32-bit Windows with the WINAPI
 * (__stdcall) convention. `long` arguments of the RP1210 standard are 32-bit integers, as on
 * Windows. Every call returns 0 or a positive number: a client id, a message length or an
 * RP1210 error code (128..163, texts from RP1210_GetErrorMsg). The window handle is an HWND on
 * Windows; on POSIX a file descriptor that receives one 8-byte integer per notification.
 */
#ifndef QV121032_H
#define QV121032_H

#include <stdint.h>

#include "qvlink/platform/callconv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the client id 1..10, or 128, 129, 130, 131, 134, 136. */
QV_EXPORT int16_t QV_STDCALL RP1210_ClientConnect(void* hwndClient, int16_t nDeviceID, const char* fpchProtocol,
                                                  int32_t lTxBufferSize, int32_t lRcvBufferSize,
                                                  int16_t nIsAppPacketizingIncomingMsgs);
/* Returns 0, 129, or the driver's close result. */
QV_EXPORT int16_t QV_STDCALL RP1210_ClientDisconnect(int16_t nClientID);
/* Returns 0 or an RP1210 error code. A CAN message is one frame: type byte, 4-byte identifier,
 * at most 8 data bytes (more: 141; no whole identifier: 160). */
QV_EXPORT int16_t QV_STDCALL RP1210_SendMessage(int16_t nClientID, const char* fpchClientMessage, int16_t nMessageSize,
                                                int16_t nNotifyStatusOnTx, int16_t nBlockOnSend);
/* Returns the number of bytes written to fpchAPIMessage, 0 when no message, or an error code.
 * A message longer than nBufferSize is refused with 141 and dropped, never kept for a later read. */
QV_EXPORT int16_t QV_STDCALL RP1210_ReadMessage(int16_t nClientID, char* fpchAPIMessage, int16_t nBufferSize,
                                                int16_t nBlockOnRead);
/* Returns 0, an RP1210 error code, or the driver's result of the forwarded command. A command
 * that reads data refuses a null fpchClientCommand with nMessageSize above 0, or a negative
 * nMessageSize, with 160 and sends nothing. */
QV_EXPORT int16_t QV_STDCALL RP1210_SendCommand(int16_t nCommandNumber, int16_t nClientID, char* fpchClientCommand,
                                                int16_t nMessageSize);
/* Writes one character to each pointer (no terminator); returns 0. */
QV_EXPORT int16_t QV_STDCALL RP1210_ReadVersion(char* fpchDLLMajorVersion, char* fpchDLLMinorVersion,
                                             char* fpchAPIMajorVersion, char* fpchAPIMinorVersion);
/* Writes the code's text and a zero byte (at most 31 bytes); 0, or 155 for an unknown code. */
QV_EXPORT int16_t QV_STDCALL RP1210_GetErrorMsg(int16_t ErrorCode, char* fpchDescription);
/* Writes 16 bytes of status; returns the driver's result or 129. */
QV_EXPORT int16_t QV_STDCALL RP1210_GetHardwareStatus(int16_t nClientID, char* fpchClientInfo, int16_t nInfoSize,
                                                      int16_t nBlockOnRequest);

/* RP1210C. Writes three zero-terminated texts of at most 16 characters (17 bytes each; a null
 * pointer is skipped): API version, DLL version, adapter firmware version ("unknown": the
 * library cannot learn it without taking a message meant for an application). 0 or 129. */
QV_EXPORT int16_t QV_STDCALL RP1210_ReadDetailedVersion(int16_t nClientID, char* fpchAPIVersionInfo,
                                                        char* fpchDLLVersionInfo, char* fpchFWVersionInfo);
/* RP1210C. RP1210_GetErrorMsg's text and result; *SubErrorCode is set to -1 (no finer cause). */
QV_EXPORT int16_t QV_STDCALL RP1210_GetLastErrorMsg(int16_t ErrorCode, int32_t* SubErrorCode, char* fpchDescription,
                                                    int16_t nClientID);
/* RP1210C. 143 (ERR_COMMAND_NOT_SUPPORTED) for every identifier, 129 for an unknown client;
 * neither pointer is touched. */
QV_EXPORT int16_t QV_STDCALL RP1210_Ioctl(int16_t nClientID, int32_t nIoctlID, void* pInput, void* pOutput);

#ifdef __cplusplus
}
#endif

#endif /* QV121032_H */
