/* QV_API: the QvLink device driver library.
 *
 * Loaded at run time by QV121032 (bare name "QV_API": QV_API.dll, libQV_API.so). Every entry
 * point is exported undecorated; on 32-bit Windows with the __stdcall convention. Records are
 * owned by the caller and read or filled during the call only. Results are plain integers:
 * 0 for success, else an RP1210 error number.
 */
#ifndef QV_API_H
#define QV_API_H

#include <stddef.h>
#include <stdint.h>

#include "qvlink/platform/callconv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Protocol codes: first byte of every RF payload and of a MessageRecord. */
enum {
  QV_PROTOCOL_DEVICE = 0x00,
  QV_PROTOCOL_J1708 = 0x01,
  QV_PROTOCOL_J1939 = 0x02,
  QV_PROTOCOL_ATEC = 0x04, /* known to QV121032 only */
  QV_PROTOCOL_CAN = 0x07,  /* carried on the adapter's J1939 side as 0x02 */
  QV_PROTOCOL_VKL = 0x10,
  QV_PROTOCOL_NETWORK = 0x20,
  QV_PROTOCOL_IO = 0x27
};

/* Device command numbers: the `command` of SendQVCommand, carried to the adapter as is. */
enum {
  QV_CMD_MODEM = 14,      /* local radio modem setting (channel, reset, destination query) */
  QV_CMD_FILTER = 16,     /* the protocol's message filter list; empty data clears it */
  QV_CMD_CAN_FILTER = 17, /* on the J1939 side: the standard-identifier CAN filter list */
  QV_CMD_OPTION = 23,     /* adapter option: option number, then its value */
  QV_CMD_ECHO = 52        /* echo of sent messages: one byte, 0 off */
};

/* Adapter options: first data byte of QV_CMD_OPTION, the value follows. */
enum {
  QV_OPT_J1708_MODE = 0x01,        /* J1708 side: value 0x00 or 0x01 */
  QV_OPT_PROTOCOL_MODE = 0x02,     /* the protocol being started: value QV_OPT_ON */
  QV_OPT_PACKING = 0x05,           /* J1939 side: value QV_OPT_PACKING_ON packs messages in batches */
  QV_OPT_RF_ACK = 0x09,            /* device side: value QV_OPT_RF_ACK_ON acknowledges RF messages */
  QV_OPT_PROTOCOL_START = 0x10,    /* the protocol being started, no value */
  QV_OPT_TRANSPORT_ADDRESS = 0x11, /* J1939 side: value the transport address */
  QV_OPT_ON = 0x01,                /* value of QV_OPT_PROTOCOL_MODE */
  QV_OPT_PACKING_ON = 0x19,        /* value of QV_OPT_PACKING */
  QV_OPT_RF_ACK_ON = 0x09          /* value of QV_OPT_RF_ACK */
};

/* Result codes (RP1210 error numbers). */
enum {
  ERR_Success = 0,
  ERR_DLL_NOT_INITIALIZED = 128,
  ERR_INVALID_CLIENT_ID = 129,
  ERR_CLIENT_ALREADY_CONNECTED = 130,
  ERR_CLIENT_AREA_FULL = 131,
  ERR_FREE_MEMORY = 132,
  ERR_NOT_ENOUGH_MEMORY = 133,
  ERR_INVALID_DEVICE = 134,
  ERR_DEVICE_IN_USE = 135,
  ERR_INVALID_PROTOCOL = 136,
  ERR_TX_QUEUE_FULL = 137,
  ERR_TX_QUEUE_CORRUPT = 138,
  ERR_RX_QUEUE_FULL = 139,
  ERR_RX_QUEUE_CORRUPT = 140,
  ERR_MESSAGE_TOO_LONG = 141,
  ERR_HARDWARE_NOT_RESPONDING = 142,
  ERR_COMMAND_NOT_SUPPORTED = 143,
  ERR_INVALID_COMMAND = 144,
  ERR_TXMESSAGE_STATUS = 145,
  ERR_ADDRESS_CLAIM_FAILED = 146,
  ERR_CANNOT_SET_PRIORITY = 147,
  ERR_CLIENT_DISCONNECTED = 148,
  ERR_CONNECT_NOT_ALLOWED = 149,
  ERR_CHANGE_MODE_FAILED = 150,
  ERR_BUS_OFF = 151,
  ERR_COULD_NOT_TX = 152,
  ERR_ADDRESS_CLAIMED = 153,
  ERR_ADDRESS_LOST = 154,
  ERR_CODE_NOT_FOUND = 155,
  ERR_BLOCK_NOT_ALLOWED = 156,
  ERR_MULTIPLE_CLIENTS_CONNECTED = 157,
  ERR_ADDRESS_NEVER_CLAIMED = 158,
  ERR_WINDOW_HANDLE_REQUIRED = 159,
  ERR_MESSAGE_NOT_SENT = 160,
  ERR_MAX_NOTIFY_EXCEEDED = 161,
  ERR_MAX_FILTERS_EXCEEDED = 162,
  ERR_HARDWARE_STATUS_CHANGE = 163
};

/* Settings read by Initialize_Hardware. Natural alignment; layout pinned below. */
typedef struct DeviceSettings {
  uint8_t deviceNumber;   /* 0: record holds the settings; 1..255: take them from the registry */
  char portName[32];      /* "COMn", NUL-terminated */
  uint32_t baudRate;      /* bit/s */
  uint32_t rfAddress;     /* adapter's radio address, low 16 bits used */
  uint32_t reconnectTime; /* kept, not acted on */
  uint8_t lineFormat;     /* data bits then stop bits: 81 */
  uint8_t rfChannel;      /* only 10..23 acted on */
  uint32_t packingType;   /* 1: ask the adapter for J1939 packing */
  uint32_t txBlockType;   /* non-zero: every send waits for its reply */
  uint8_t rfAck;          /* 0 off, 1 when the adapter supports it, 2 always */
  uint8_t filterType;     /* used by QV121032 only */
  uint8_t counterEnable;  /* non-zero: report link counters at shutdown */
  void* notifyWindow;     /* HWND on Windows; a file descriptor on POSIX; 0: none */
} DeviceSettings;

#define QV_MESSAGE_BODY_SIZE 2067
#define QV_MESSAGE_RETURNED_DATA_OFFSET 7 /* within body: 3 unused bytes, returned length */
#define QV_MESSAGE_RETURNED_DATA_MAX (QV_MESSAGE_BODY_SIZE - QV_MESSAGE_RETURNED_DATA_OFFSET)

/* One vehicle message or device request, 2080 bytes.
 * Transmit view: body[0..length-1] are the message data bytes (numbered 1..2067).
 * Receive view: body[0..2] unused, body[3..6] returned length (uint32, host order),
 * body[7..] returned data. Use the accessors below for the receive view. */
typedef struct MessageRecord {
  uint8_t protocol;
  uint8_t body[QV_MESSAGE_BODY_SIZE];
  uint32_t length;       /* transmit: number of message data bytes */
  uint8_t blockFlag;     /* non-zero: wait for the reply or for a message */
  uint8_t transportMode; /* J1939 > 8 data bytes: 0 RTS/CTS, 0x80 BAM, 16 refused */
  uint8_t echoFlag;      /* J1939 receive: echo setting at delivery */
  uint8_t sourceAddress; /* J1939 transmit */
  uint8_t destAddress;   /* J1939 transmit */
  uint8_t unused;
  uint16_t handedOver;   /* scratch of the long-message send */
} MessageRecord;

static inline uint32_t QvReturnedLength(const MessageRecord* r) {
  const uint8_t* p = r->body + 3;
  uint32_t v;
  unsigned char* d = (unsigned char*)&v;
  d[0] = p[0]; d[1] = p[1]; d[2] = p[2]; d[3] = p[3];
  return v;
}
static inline void QvSetReturnedLength(MessageRecord* r, uint32_t v) {
  const unsigned char* s = (const unsigned char*)&v;
  uint8_t* p = r->body + 3;
  p[0] = s[0]; p[1] = s[1]; p[2] = s[2]; p[3] = s[3];
}
static inline uint8_t* QvReturnedData(MessageRecord* r) { return r->body + QV_MESSAGE_RETURNED_DATA_OFFSET; }

#ifdef __cplusplus
static_assert(sizeof(MessageRecord) == 2080, "MessageRecord is 2080 bytes");
static_assert(offsetof(MessageRecord, body) == 1, "body at 1");
static_assert(offsetof(MessageRecord, length) == 2068, "length at 2068");
static_assert(offsetof(MessageRecord, blockFlag) == 2072, "block flag at 2072");
static_assert(offsetof(MessageRecord, transportMode) == 2073, "transport mode at 2073");
static_assert(offsetof(MessageRecord, echoFlag) == 2074, "echo flag at 2074");
static_assert(offsetof(MessageRecord, sourceAddress) == 2075, "source at 2075");
static_assert(offsetof(MessageRecord, destAddress) == 2076, "destination at 2076");
static_assert(offsetof(MessageRecord, handedOver) == 2078, "handed-over count at 2078");
static_assert(offsetof(DeviceSettings, portName) == 1, "portName at 1");
static_assert(offsetof(DeviceSettings, baudRate) == 36, "baudRate at 36");
static_assert(offsetof(DeviceSettings, rfAddress) == 40, "rfAddress at 40");
static_assert(offsetof(DeviceSettings, reconnectTime) == 44, "reconnectTime at 44");
static_assert(offsetof(DeviceSettings, lineFormat) == 48, "lineFormat at 48");
static_assert(offsetof(DeviceSettings, rfChannel) == 49, "rfChannel at 49");
static_assert(offsetof(DeviceSettings, packingType) == 52, "packingType at 52");
static_assert(offsetof(DeviceSettings, txBlockType) == 56, "txBlockType at 56");
static_assert(offsetof(DeviceSettings, rfAck) == 60, "rfAck at 60");
static_assert(offsetof(DeviceSettings, filterType) == 61, "filterType at 61");
static_assert(offsetof(DeviceSettings, counterEnable) == 62, "counterEnable at 62");
static_assert(offsetof(DeviceSettings, notifyWindow) == 64, "notifyWindow at 64");
static_assert(sizeof(DeviceSettings) == 64 + sizeof(void*), "DeviceSettings ends with the window handle");
#endif

/* Entry points (twenty). Arguments are plain integers and pointers.
 * Initialize_Hardware: opens the device (attach 0) and returns its deviceId 0x81..0x86, or
 *   attaches a further protocol (attach != 0) and returns 0; 134 on failure; 142 while closing.
 * Restore_Hardware: closes the protocol; keepOpen 0 shuts the device down. Returns 0.
 * Transmit_Message / Receive_Message: 134 for an id without bit 7, 142 while closing; else the
 *   transmit result, or the returned length (0: no message) of the receive path.
 * Receive_Transport_Message: delivers a reassembled long J1939 message; its length, or 0.
 * SendQVCommand: runs one device command; returns 0 whatever its outcome (142 while closing).
 * Set_Transport_Address: sends the J1939 transport address to the adapter; returns 0.
 * GetHardwareStatus: fills bytes 0 and 2..8 of the caller's block; returns 0.
 * GetVersions: sends the version request; 0 or 137.
 * The other eleven are stubs that return 135. */
QV_EXPORT int32_t QV_STDCALL Initialize_Hardware(DeviceSettings* settings, const char* protocol, uint8_t attach);
QV_EXPORT int32_t QV_STDCALL Restore_Hardware(uint8_t deviceId, const char* protocol, uint8_t keepOpen);
QV_EXPORT int32_t QV_STDCALL Transmit_Message(uint8_t deviceId, MessageRecord* record);
QV_EXPORT int32_t QV_STDCALL Receive_Message(uint8_t deviceId, MessageRecord* record);
QV_EXPORT int32_t QV_STDCALL Receive_Transport_Message(uint8_t deviceId, MessageRecord* record);
QV_EXPORT int32_t QV_STDCALL SendQVCommand(uint8_t deviceId, uint8_t protocol, uint8_t command, const uint8_t* data, uint8_t length);
QV_EXPORT int32_t QV_STDCALL Set_Transport_Address(uint8_t deviceId, uint8_t address);
QV_EXPORT int32_t QV_STDCALL GetHardwareStatus(uint8_t deviceId, uint8_t* status);
QV_EXPORT int32_t QV_STDCALL GetVersions(uint8_t deviceId, void* unused);
QV_EXPORT int32_t QV_STDCALL ConfigureCAN(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL ConfigurePWM(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL ConfigureUART(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL ConfigureVKL(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL Configure_Transmit_Message(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL Configure_Receive_Message(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL Set_Filter(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL Set_Trigger(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL BeginDataLog(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL UploadDataLog(int32_t a, int32_t b);
QV_EXPORT int32_t QV_STDCALL SetVerboseMode(int32_t a, int32_t b);

/* Pointer types of the ten entry points QV121032 binds. */
typedef int32_t(QV_STDCALL* QvInitializeHardwareFn)(DeviceSettings*, const char*, uint8_t);
typedef int32_t(QV_STDCALL* QvRestoreHardwareFn)(uint8_t, const char*, uint8_t);
typedef int32_t(QV_STDCALL* QvTransmitMessageFn)(uint8_t, MessageRecord*);
typedef int32_t(QV_STDCALL* QvReceiveMessageFn)(uint8_t, MessageRecord*);
typedef int32_t(QV_STDCALL* QvSendQVCommandFn)(uint8_t, uint8_t, uint8_t, const uint8_t*, uint8_t);
typedef int32_t(QV_STDCALL* QvConfigureVKLFn)(int32_t, int32_t);
typedef int32_t(QV_STDCALL* QvGetVersionsFn)(uint8_t, void*);
typedef int32_t(QV_STDCALL* QvGetHardwareStatusFn)(uint8_t, uint8_t*);
typedef int32_t(QV_STDCALL* QvReceiveTransportMessageFn)(uint8_t, MessageRecord*);
typedef int32_t(QV_STDCALL* QvSetTransportAddressFn)(uint8_t, uint8_t);

#ifdef __cplusplus
}
#endif

#endif /* QV_API_H */
