#pragma once
/* The serial port library: up to eight ports driven for a master/slave exchange. The caller
 * fills a transmit buffer and starts a transmission; the library raises RTS around it when
 * asked, may wait for CTS, may capture the echo of its own transmission (two-wire lines),
 * collects reply bytes on one reader thread per port, calls the installed routine for every
 * received byte there, and supervises the exchange with five time-outs.
 *
 * Results are 1/0, or negative status codes (SC_STATUS_*) whose texts SCFormatErrorMessage
 * gives. A null port makes every function return 0 or do nothing. Plain C so that modules
 * loaded into the agent can use it. Wide texts are UTF-16. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SC_MAX_PORTS 8
#define SC_WORK_AREA_WORDS 16

enum {
  SC_STATUS_OK = 0,
  SC_STATUS_INVALID_PORT = -1,
  SC_STATUS_INVALID_BAUD = -2,
  SC_STATUS_INVALID_BITS = -3,
  SC_STATUS_INVALID_STOP_BITS = -4,
  SC_STATUS_INVALID_PARITY = -5,
  SC_STATUS_INVALID_IRQ = -6,
  SC_STATUS_PORT_IN_USE = -7,
  SC_STATUS_INVALID_BUFFER_SIZE = -8,
  SC_STATUS_NO_MEMORY = -9,
  SC_STATUS_TX_EMPTY = -10,
  SC_STATUS_TX_FULL = -11,
  SC_STATUS_RX_EMPTY = -12,
  SC_STATUS_RX_FULL = -13,
  SC_STATUS_CTS_TIMEOUT = -14,
  SC_STATUS_START_TIMEOUT = -15,
  SC_STATUS_END_TIMEOUT = -16,
  SC_STATUS_RX_CHAR_TIMEOUT = -17,
  SC_STATUS_TX_CHAR_TIMEOUT = -18,
  SC_STATUS_NO_CARRIER = -19,
  SC_STATUS_NO_DSR = -20,
  SC_STATUS_NO_UART = -21,
  SC_STATUS_CANNOT_SEND = -22,
  SC_STATUS_USER_ABORT = -23,
  SC_STATUS_NOT_SUPPORTED = -24,
  SC_STATUS_OVERRUN = -25,
  SC_STATUS_PARITY = -26,
  SC_STATUS_OVERRUN_PARITY = -27,
  SC_STATUS_FRAMING = -28,
  SC_STATUS_FRAMING_OVERRUN = -29,
  SC_STATUS_FRAMING_PARITY = -30,
  SC_STATUS_FRAMING_OVERRUN_PARITY = -31,
  SC_STATUS_TX_MESSAGE_TIMEOUT = -32
};

/* RTS modes of SCPortConfig. */
enum { SC_RTS_NONE = 0, SC_RTS_CONTROL = 1, SC_RTS_CONTROL_ECHO = 2 };
/* Parity of SCPortConfig. */
enum { SC_PARITY_EVEN = 0, SC_PARITY_ODD = 1, SC_PARITY_NONE = 2 };
/* Bit of SCPortConfig.options: leave DTR low at open. */
#define SC_OPTION_NO_DTR 0x8000

/* One open port. Opaque: reached only through the functions below. */
typedef struct generic_port generic_port;
typedef void (*SCUserRoutine)(generic_port* port);

typedef struct SCPortConfig {
  int32_t portIndex; /* 0 = COM1 ... 7 = COM8 */
  int32_t baudRate;
  int32_t dataBits;      /* low byte used: 5 ... 8 */
  int32_t stopBits;      /* 1 or 2 */
  int32_t parity;        /* SC_PARITY_* */
  uint16_t startTimeout; /* ms to the first reply byte; 0 or > 60000 means 60000 */
  uint16_t endTimeout;   /* ms from the first to the last reply byte; 0 = unlimited */
  uint16_t charTimeout;  /* ms between reply bytes; 0 or > 60000 means 60000 */
  uint16_t ctsTimeout;   /* ms to wait for CTS before a transmission */
  int32_t verifyCts;
  int32_t rtsMode; /* SC_RTS_* */
  int32_t options;
  uint16_t txBufferSize; /* clamped to 512 ... 32767; also the echo buffer size */
  uint16_t rxBufferSize; /* clamped to 1024 ... 32767 */
} SCPortConfig;

/* Opening and closing. status receives 0, -1, -2, -7 or -9. SCPortClose stops and joins the
 * reader thread before it frees anything. */
generic_port* SCPortOpen(intptr_t userValue, const SCPortConfig* config, int* status);
void SCPortClose(generic_port* port);
int SCIsPortFree(int portIndex);
/* The device a port index opens; default "/dev/ttyS<index>". Applies to later opens. */
void SCSetPortDevice(int portIndex, const char* path);

void SCInstallUserRoutine(generic_port* port, SCUserRoutine routine);
void SCUserRoutineDefault(generic_port* port);

void* SCAlloc(uint32_t count, uint32_t size);
void SCFree(void* memory);

void SCClearTxBuffer(generic_port* port);
void SCClearRxBuffer(generic_port* port);
int SCSpaceUsedInTxBuffer(generic_port* port);
int SCSpaceUsedInRxBuffer(generic_port* port);
int SCSpaceFreeInTxBuffer(generic_port* port);
int SCSpaceFreeInRxBuffer(generic_port* port);
int SCIsTxEmpty(generic_port* port);
int SCIsRxEmpty(generic_port* port);
int SCIsTxFull(generic_port* port);
int SCIsRxFull(generic_port* port);

/* The receive buffer keeps the newest bytes: when it is full the oldest byte gives way. On the
 * reader thread, inside the user routine, SCPeekLastChar gives the byte being delivered. */
int SCPeekChar(generic_port* port, int position, char* out);
int SCPeekLastChar(generic_port* port, char* out);
int SCReadChar(generic_port* port, char* out);
int SCReadBuffer(generic_port* port, char* bytes, int count);
int SCWriteChar(generic_port* port, char byte);
int SCWriteBuffer(generic_port* port, const char* bytes, int count);

int SCSetDtr(generic_port* port, int on);
int SCSetRts(generic_port* port, int on);
int SCBreak(generic_port* port, int milliseconds);
int SCResetSerial(generic_port* port);

/* A whole transmission: clears both buffers, queues at most the transmit capacity of bytes and
 * starts it. Synchronous: returns when the bytes have left or the write failed. */
int SCSendTxBuf(generic_port* port, const char* bytes, int count);
int SCInitTx(generic_port* port);
int SCWaitTxEmpty(generic_port* port);
int SCWaitMessage(generic_port* port);
void SCVerifyTimeout(generic_port* port);
void SCUserAbort(generic_port* port);
void SCWindowsExecute(void);

void SCTrace(const char16_t* text);
/* Copies the code's text, zero-terminated and cut to capacity characters, into buffer. */
void SCFormatErrorMessage(int code, char16_t* buffer, int capacity);

void SCSetYieldTx(void);
void SCSetYieldRx(void);
void SCCapture(void);
void SCRelease(void);

/* The record's fields a user routine needs. */
int SCGetStatus(generic_port* port);
void SCSetStatus(generic_port* port, int status);
void SCSetMessageComplete(generic_port* port, int complete);
int SCGetMessageComplete(generic_port* port);
uint16_t SCGetRxCharTimeout(generic_port* port);
intptr_t SCGetUserValue(generic_port* port);
int SCGetPortIndex(generic_port* port);
/* SC_WORK_AREA_WORDS words, zero at open, for the installed user routine. */
int32_t* SCGetWorkArea(generic_port* port);
int SCIsTransmitting(generic_port* port);

/* Hooks of the host program. The trace writer receives each line SCTrace is given (the host
 * decides where it goes); the text source may replace a status text (return non-zero after
 * filling buffer); the message pump runs the caller's pending messages for SCWindowsExecute and
 * returns non-zero when the program is ending; the tick source replaces the millisecond tick
 * count (tests). Null restores the default. */
void SCSetTraceWriter(void (*writer)(const char16_t* text));
void SCSetTextSource(int (*source)(int code, char16_t* buffer, int capacity));
void SCSetMessagePump(int (*pump)(void));
void SCSetTickSource(uint32_t (*source)(void));
uint32_t SCTickCount(void);

#ifdef __cplusplus
}
#endif
