/*
 * The debug driver contract: what a driver module exports and every record
 * that crosses between the program and a module.
 *
 * A driver module exports one function, gdi_get, which returns the module's
 * DriverTable: 58 function pointers in a fixed slot order. The program and the
 * modules are built separately and meet only here, so the slot order, the
 * argument lists and the record layouts below are a binary contract. On a
 * 32-bit build every record has the sizes and offsets noted beside its fields
 * (checked at the end of this file); on a 64-bit build the pointers take their
 * natural size and the records grow accordingly.
 *
 * This header is plain C and compiles as C and as C++. Nothing C++ crosses
 * the table.
 *
 * Ownership: the table is static data of the module, valid from gdi_get until
 * the module is unloaded; the program keeps only the pointer. Texts a module
 * allocates for DriverInfo go back through gdi_free. Every other buffer that
 * crosses (memory cells, register lists, status records) is the caller's.
 */
#ifndef ROMSMITH_DRIVER_API_GDI_H
#define ROMSMITH_DRIVER_API_GDI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Every slot uses the cdecl convention (the caller removes the arguments).
 * That is the default of the 32-bit x86 compilers; it is spelled out there so
 * that a module built with other defaults still meets the program. */
#if defined(__i386__) && (defined(__GNUC__) || defined(__clang__))
#define GDI_CALL __attribute__((cdecl))
#else
#define GDI_CALL
#endif

/* What a module marks as its one export (modules build with hidden
 * visibility by default). */
#if defined(__GNUC__) || defined(__clang__)
#define GDI_EXPORT __attribute__((visibility("default")))
#else
#define GDI_EXPORT
#endif

/* ---- Result codes (every slot returns one as a 32-bit signed integer) ---- */

enum {
  GDI_OK = 0,               /* done */
  GDI_ALREADY_RUNNING = 1,  /* gdi_run: the target was already running */
  GDI_BAD_ARGUMENT = 2,     /* unknown breakpoint number, odd execution-breakpoint
                               address, unknown access width */
  GDI_NOT_SUPPORTED = 4,    /* not supported; also breakpoint table or hardware
                               units exhausted, unknown register key */
  GDI_FAILED = 5,           /* target or probe operation failed */
  GDI_OPEN_FAILED = 7       /* open or connect failed: probe absent, port name
                               refused, port driver missing, out of memory */
};

/* ---- Slot numbers ---- */

enum {
  GDI_SLOT_SET_BREAKPOINT = 0,
  GDI_SLOT_CLEAR_BREAKPOINT = 1,
  GDI_SLOT_CLEAR_ALL_BREAKPOINTS = 2,
  GDI_SLOT_RESET = 3,
  GDI_SLOT_STEP = 4,
  GDI_SLOT_RUN = 6,
  GDI_SLOT_GET_STATUS = 8,
  GDI_SLOT_STOP = 9,
  GDI_SLOT_OPEN = 12,
  GDI_SLOT_CLOSE = 13,
  GDI_SLOT_GET_VERSION = 14,
  GDI_SLOT_GET_INFO = 15,
  GDI_SLOT_CANCEL_WAITS = 16,
  GDI_SLOT_CONNECT = 17,
  GDI_SLOT_SET_REGISTER_LIST = 18,
  GDI_SLOT_SET_MEMORY_SPACE_LIST = 19,
  GDI_SLOT_SET_CALLBACK = 20,
  GDI_SLOT_SET_OPTION = 23,
  GDI_SLOT_WRITE_COMMS = 24,
  GDI_SLOT_WRITE_MEMORY = 36,
  GDI_SLOT_READ_MEMORY = 37,
  GDI_SLOT_WRITE_REGISTER = 46,
  GDI_SLOT_READ_REGISTER = 47,
  GDI_SLOT_CREATE_REGISTER_GROUP = 48,
  GDI_SLOT_DELETE_REGISTER_GROUP = 49,
  GDI_SLOT_WRITE_REGISTER_GROUP = 50,
  GDI_SLOT_READ_REGISTER_GROUP = 51,
  GDI_SLOT_GET_CPU_STATE = 56,
  GDI_SLOT_FREE = 57,
  GDI_SLOT_COUNT = 58
};

/* ---- Other constants of the contract ---- */

/* The one message kind drivers produce (gdi_set_callback ignores others). */
#define GDI_MESSAGE_KIND 2048

/* Byte order byte of OpenOptions. */
#define GDI_BIG_ENDIAN 1u
#define GDI_LITTLE_ENDIAN 2u

/* Communication-type bit codes (DriverInfo mask and ConnectRecord). */
#define GDI_COMM_RS232 0x0001u
#define GDI_COMM_RS422 0x0002u
#define GDI_COMM_RS485 0x0004u
#define GDI_COMM_TCPIP 0x0008u
#define GDI_COMM_IPXSPX 0x0010u
#define GDI_COMM_IPC 0x0020u
#define GDI_COMM_RPC 0x0040u
#define GDI_COMM_SCSI 0x0080u
#define GDI_COMM_USB 0x0100u
#define GDI_COMM_I2C 0x0200u
#define GDI_COMM_PROFIBUS 0x0400u
#define GDI_COMM_INTERBUS 0x0800u
#define GDI_COMM_TAP 0x1000u
#define GDI_COMM_FILE 0x2000u
#define GDI_COMM_ISA 0x4000u
#define GDI_COMM_PARALLEL 0x8000u

/* TargetStatus states. A host tells only running (0) from halted (any other). */
#define GDI_STATE_RUNNING 0u
#define GDI_STATE_HALTED_STEP 1u         /* halted after a step */
#define GDI_STATE_HALTED_BREAKPOINT 4u   /* second word: the breakpoint number */
#define GDI_STATE_HALTED_WATCHPOINT 8u
#define GDI_STATE_HALTED_STOP 128u       /* halted by a stop request */
#define GDI_STATE_HALTED_OTHER 512u      /* after a run, no matching unit */
#define GDI_STATE_HALTED_NOT_RUN 1024u   /* halted, no run since the module loaded */

/* BreakpointRequest flags and kinds. */
#define GDI_BP_EXECUTE 0x01u
#define GDI_BP_WATCH_READ 0x02u
#define GDI_BP_WATCH_WRITE 0x04u
#define GDI_BP_WATCH_ACCESS 0x08u
#define GDI_BP_REJECTED_FLAGS 0xF0u   /* any of bits 4-7: result 4 */
#define GDI_BP_HARDWARE 0u
#define GDI_BP_SOFTWARE 1u
#define GDI_BP_AUTOMATIC 2u           /* software in writable RAM, hardware elsewhere */

/* RegisterValue status. */
#define GDI_REGISTER_READ 0u
#define GDI_REGISTER_FAILED 3u

/* Buffer sizes the program uses for texts that cross the table. */
#define GDI_INFO_TEXT_SIZE 64      /* description, version text, each speed name */
#define GDI_OPTION_TEXT_SIZE 260   /* OpenOptions communication parameter */
#define GDI_PORT_TEXT_SIZE 16      /* ConnectRecord port name */
#define GDI_REGISTER_NAME_SIZE 16  /* at most 15 characters and the terminator */

/* ---- Records ---- (offsets as on a 32-bit build) */

/* A breakpoint or watchpoint to set; passed by value to slot 0. */
typedef struct BreakpointRequest {
  uint32_t flags;    /*  0: GDI_BP_EXECUTE, or the watchpoint bits 1-3 */
  uint32_t arg2;     /*  4: kept by the driver, no meaning */
  uint32_t address;  /*  8: target address */
  uint32_t cond;     /* 12: condition; nonzero is rejected with 4 */
  uint32_t kind;     /* 16: GDI_BP_HARDWARE, _SOFTWARE or _AUTOMATIC */
} BreakpointRequest; /* 20 bytes */

/* The breakpoint as the driver set it. */
typedef struct BreakpointEntry {
  uint32_t number;            /* 0: 1-based handle for gdi_clear_breakpoint */
  BreakpointRequest request;  /* 4: the request, kind resolved to 0 or 1 */
} BreakpointEntry;            /* 24 bytes */

typedef struct TargetStatus {
  uint32_t state;       /* 0: GDI_STATE_* */
  uint32_t breakpoint;  /* 4: breakpoint number when halted at one, else 0 */
} TargetStatus;         /* 8 bytes */

/* One byte of target memory. On write the byte is in the low byte of value
 * and the rest of the cell is zero; on read the driver stores the byte
 * zero-extended into value. n bytes travel as n cells in address order. */
typedef struct MemoryCell {
  uint32_t value;   /* 0 */
  uint32_t unused;  /* 4: zero on write, ignored on read */
} MemoryCell;       /* 8 bytes */

/* What gdi_write_comms leaves behind. */
typedef struct CommsResult {
  uint32_t written;     /*  0: words that went into the channel */
  uint32_t status;      /*  4: the word the core sent, when status_read is 1 */
  uint32_t status_read; /*  8: 1 when the core had sent a word (W set): it was
                           read, and no word went in after that check */
  uint32_t control;     /* 12: the comms control register as last read */
} CommsResult;          /* 16 bytes */

/* One register the program will name by key. The driver copies the list. */
typedef struct RegisterListItem {
  const char* name;    /* 0: at most 15 characters */
  uint32_t key;        /* 4 */
  uint32_t supported;  /* 8: cleared by the program; the driver writes the low
                          byte: 1 if it can reach the register */
} RegisterListItem;    /* 12 bytes */

/* One item of gdi_set_memory_space_list (never called by the program). */
typedef struct MemorySpaceItem {
  const char* name;    /* 0 */
  uint32_t id;         /* 4 */
  uint32_t supported;  /* 8: low byte written by the driver */
} MemorySpaceItem;     /* 12 bytes */

typedef struct RegisterValue {
  uint32_t value;   /* 0 */
  uint32_t status;  /* 4: GDI_REGISTER_READ or GDI_REGISTER_FAILED */
} RegisterValue;    /* 8 bytes */

/* One item of gdi_write_register_group. */
typedef struct RegisterWriteItem {
  uint32_t value;  /* 0 */
  int32_t flag;    /* 4 */
} RegisterWriteItem; /* 8 bytes */

/* What gdi_open reads: three pointers to the caller's buffers. */
typedef struct OpenOptions {
  const uint8_t* byte_order;  /* 0: GDI_BIG_ENDIAN or GDI_LITTLE_ENDIAN */
  const char* parameter;      /* 4: 260-byte text: the port driver directory for
                                 parallel-port probes, the address for TCP/IP,
                                 else empty */
  const uint8_t* speed;       /* 8: index into the DriverInfo speed names,
                                 0 fastest */
} OpenOptions;                /* 12 bytes */

typedef struct ConnectRecord {
  uint32_t comm_type;  /* 0: GDI_COMM_* bit code */
  uint32_t connected;  /* 4: low byte set to 1 by the program and by the driver */
  char* port;          /* 8: 16-byte port name ("LPT1"), null unless the comm
                          type is GDI_COMM_PARALLEL */
} ConnectRecord;       /* 12 bytes */

/* Filled by gdi_get_info. The driver allocates the three texts and the speed
 * names; the host gives description, version_text and extra_text back through
 * gdi_free and leaves the speed-name array with the driver. */
typedef struct DriverInfo {
  char* description;         /*   0: 64-byte buffer, shown to the user */
  char* version_text;        /*   4: 64-byte buffer, the version in decimal */
  uint32_t version;          /*   8: same value as gdi_get_version */
  char** speed_names;        /*  12: speed names, fastest first */
  uint32_t speed_count;      /*  16: 0 (or a null array): no speed choice */
  uint32_t comm_types;       /*  20: mask of GDI_COMM_* codes */
  uint8_t constants[92];     /*  24..115: driver constants, not read by hosts;
                                 constants[k] is the byte at offset 24 + k */
  char* extra_text;          /* 116: allocated (empty) text, only released */
  uint8_t constants_120[8];  /* 120..127 */
  uint32_t constant_128;     /* 128 */
  uint32_t byte_order;       /* 132: the byte order last given to gdi_open */
  uint32_t constant_136;     /* 136 */
  uint8_t constant_140;      /* 140 */
  uint8_t constants_141[3];  /* 141..143 */
  uint32_t constant_144;     /* 144 */
} DriverInfo;                /* 148 bytes */

/* The driver's message channel: kind GDI_MESSAGE_KIND and a complete line
 * ending in "\n" that starts with "Info:", "Warning:", "Error:" or "Debug:".
 * Called on the thread that called the slot, before the slot returns. */
typedef void(GDI_CALL* MessageCallback)(int32_t kind, const char* text);

/* ---- Slot signatures ---- */

typedef int32_t(GDI_CALL* GdiNoArgumentSlot)(void);
typedef int32_t(GDI_CALL* GdiSetBreakpointSlot)(BreakpointEntry* out, BreakpointRequest request);
typedef int32_t(GDI_CALL* GdiClearBreakpointSlot)(uint32_t number);
typedef int32_t(GDI_CALL* GdiStepSlot)(uint32_t ignored);
typedef int32_t(GDI_CALL* GdiGetStatusSlot)(TargetStatus* out);
typedef int32_t(GDI_CALL* GdiOpenSlot)(int32_t a, int32_t b, int32_t c, OpenOptions* options,
                                       int32_t d);
typedef int32_t(GDI_CALL* GdiCloseSlot)(int32_t ignored);
typedef int32_t(GDI_CALL* GdiGetVersionSlot)(uint32_t* out);
typedef int32_t(GDI_CALL* GdiGetInfoSlot)(DriverInfo* out);
typedef int32_t(GDI_CALL* GdiConnectSlot)(ConnectRecord* record);
typedef int32_t(GDI_CALL* GdiSetRegisterListSlot)(uint32_t count, RegisterListItem* items,
                                                  int32_t zero);
typedef int32_t(GDI_CALL* GdiSetMemorySpaceListSlot)(uint32_t count, MemorySpaceItem* items);
typedef int32_t(GDI_CALL* GdiSetCallbackSlot)(int32_t kind, MessageCallback callback);
typedef int32_t(GDI_CALL* GdiMemorySlot)(int32_t space, uint32_t address, MemoryCell* cells,
                                         uint32_t count, int32_t width);
typedef int32_t(GDI_CALL* GdiWriteRegisterSlot)(int32_t key, uint32_t value, int32_t flag);
typedef int32_t(GDI_CALL* GdiReadRegisterSlot)(int32_t key, RegisterValue* out);
typedef int32_t(GDI_CALL* GdiCreateRegisterGroupSlot)(int32_t* id, int32_t* keys,
                                                      uint32_t count);
typedef int32_t(GDI_CALL* GdiDeleteRegisterGroupSlot)(int32_t id);
typedef int32_t(GDI_CALL* GdiWriteRegisterGroupSlot)(int32_t id, RegisterWriteItem* items);
typedef int32_t(GDI_CALL* GdiReadRegisterGroupSlot)(int32_t id, RegisterValue* out);
typedef int32_t(GDI_CALL* GdiGetCpuStateSlot)(char* buffer);
typedef int32_t(GDI_CALL* GdiFreeSlot)(void* p);
/* A driver option by name ("FastRead": 1 on, 0 off): 0 set, 2 unknown name or
 * value. A driver without options answers GDI_NOT_SUPPORTED, as the reserved
 * slot it takes the place of did; the host asks only for options the user
 * switched on, after gdi_open. */
typedef int32_t(GDI_CALL* GdiSetOptionSlot)(const char* name, int32_t value);
/* Words into the debug comms channel of the running core (EmbeddedICE comms
 * data, one chain-2 scan each), for a program on the target that reads them
 * with MRC p14. The comms control register is read before the first word and
 * again after every `check_every` words (0: only before the first). At a
 * check, a set W bit stops the writing: the word the core sent is read into
 * `status`. A set R bit (the core has not taken the last word yet) is read
 * again until it clears, for a few milliseconds at most; still set, the slot
 * returns with the words that went in. count 0 makes only the check.
 * 0 done (out says how far), 2 null out or words, 5 the chain could not be
 * selected (a broken connection). The program calls it only while a loader
 * that takes words this way runs. */
typedef int32_t(GDI_CALL* GdiWriteCommsSlot)(const uint32_t* words, uint32_t count,
                                             uint32_t check_every, CommsResult* out);

/* ---- The table ----
 *
 * Reserved slots return GDI_NOT_SUPPORTED without side effects; the
 * no-operation slots return 0 (slot 41 may return anything and counts as 0).
 * Slots marked "never" exist in every driver; the program does not call them.
 *
 * Slot 16, gdi_cancel_waits, is the one slot a host may call from another
 * thread while a slot runs: it asks every wait of the module (the halt and
 * step polls, the reset catch, a probe's ready wait) to give up at its next
 * poll, so the slot that waits fails with GDI_FAILED (GDI_OPEN_FAILED in
 * connect) and no further wait starts until the next gdi_open. It returns 0
 * at once. Transfers that do not wait are not cut short. A module without
 * waits to cancel may leave it a no-operation slot; the host gains nothing
 * then, and loses nothing.
 */
typedef struct DriverTable {
  GdiSetBreakpointSlot gdi_set_breakpoint;         /*  0: 0, 2, 4, 5 */
  GdiClearBreakpointSlot gdi_clear_breakpoint;     /*  1: 0, 2, 5 */
  GdiNoArgumentSlot gdi_clear_all_breakpoints;     /*  2: 0, 5 */
  GdiNoArgumentSlot gdi_reset;                     /*  3: 0, 5 */
  GdiStepSlot gdi_step;                            /*  4: 0, 5; the program passes 0 */
  GdiNoArgumentSlot reserved_5;                    /*  5 */
  GdiNoArgumentSlot gdi_run;                       /*  6: 0 started, 1 already running, 5 */
  GdiNoArgumentSlot reserved_7;                    /*  7 */
  GdiGetStatusSlot gdi_get_status;                 /*  8: 0, 5 */
  GdiNoArgumentSlot gdi_stop;                      /*  9: 0 (also when halted), 5 */
  GdiNoArgumentSlot reserved_10;                   /* 10 */
  GdiNoArgumentSlot reserved_11;                   /* 11 */
  GdiOpenSlot gdi_open;                            /* 12: (-1, 0, 3, options, 0): 0, 7;
                                                      only the options are read */
  GdiCloseSlot gdi_close;                          /* 13: 0; the program passes 1 */
  GdiGetVersionSlot gdi_get_version;               /* 14: 0; never */
  GdiGetInfoSlot gdi_get_info;                     /* 15: 0 */
  GdiNoArgumentSlot gdi_cancel_waits;              /* 16: 0; see below */
  GdiConnectSlot gdi_connect;                      /* 17: 0, 5, 7 */
  GdiSetRegisterListSlot gdi_set_register_list;    /* 18: (count, items, 0): 0, 5 */
  GdiSetMemorySpaceListSlot gdi_set_memory_space_list; /* 19: 0, 5; never */
  GdiSetCallbackSlot gdi_set_callback;             /* 20: (GDI_MESSAGE_KIND, callback): 0 */
  GdiNoArgumentSlot no_operation_21;               /* 21 */
  GdiNoArgumentSlot no_operation_22;               /* 22 */
  GdiSetOptionSlot gdi_set_option;                 /* 23: 0, 2, 4 (no options) */
  GdiWriteCommsSlot gdi_write_comms;               /* 24: 0, 2, 4, 5; see its type */
  GdiNoArgumentSlot reserved_25[11];               /* 25..35 */
  GdiMemorySlot gdi_write_memory;                  /* 36: (0, address, cells, count, width) */
  GdiMemorySlot gdi_read_memory;                   /* 37: same; width 1, 2 or 4, else 2 */
  GdiNoArgumentSlot reserved_38[3];                /* 38..40 */
  GdiNoArgumentSlot no_operation_41;               /* 41 */
  GdiNoArgumentSlot reserved_42[4];                /* 42..45 */
  GdiWriteRegisterSlot gdi_write_register;         /* 46: (key, value, 0): 0, 4, 5 */
  GdiReadRegisterSlot gdi_read_register;           /* 47: 0, 4, 5 */
  GdiCreateRegisterGroupSlot gdi_create_register_group; /* 48: 0, 5; never */
  GdiDeleteRegisterGroupSlot gdi_delete_register_group; /* 49: 0, 5; never */
  GdiWriteRegisterGroupSlot gdi_write_register_group;   /* 50: never */
  GdiReadRegisterGroupSlot gdi_read_register_group;     /* 51: 0, 5; never */
  GdiNoArgumentSlot reserved_52[4];                /* 52..55 */
  GdiGetCpuStateSlot gdi_get_cpu_state;            /* 56: copies "ARM" or "THUMB"; never */
  GdiFreeSlot gdi_free;                            /* 57: 0; null allowed */
} DriverTable;

/* The one export of a driver module. */
typedef const DriverTable*(GDI_CALL* GdiGetFunction)(void);
#define GDI_GET_EXPORT_NAME "gdi_get"

/* A module defines it as
 *   GDI_EXPORT const DriverTable* GDI_CALL gdi_get(void) { return &table; }
 */
GDI_EXPORT const DriverTable* GDI_CALL gdi_get(void);

/* ---- Layout checks ---- */

#ifdef __cplusplus
#define GDI_STATIC_ASSERT(condition, text) static_assert(condition, text)
#else
#define GDI_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#endif

#define GDI_SLOT_OFFSET(n) ((size_t)(n) * sizeof(GdiNoArgumentSlot))

/* Slot order, on every build. */
GDI_STATIC_ASSERT(sizeof(DriverTable) == GDI_SLOT_OFFSET(GDI_SLOT_COUNT), "DriverTable size");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_set_breakpoint) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_SET_BREAKPOINT), "slot 0");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_clear_breakpoint) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_CLEAR_BREAKPOINT), "slot 1");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_clear_all_breakpoints) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_CLEAR_ALL_BREAKPOINTS), "slot 2");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_reset) == GDI_SLOT_OFFSET(GDI_SLOT_RESET), "slot 3");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_step) == GDI_SLOT_OFFSET(GDI_SLOT_STEP), "slot 4");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_run) == GDI_SLOT_OFFSET(GDI_SLOT_RUN), "slot 6");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_get_status) == GDI_SLOT_OFFSET(GDI_SLOT_GET_STATUS),
                  "slot 8");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_stop) == GDI_SLOT_OFFSET(GDI_SLOT_STOP), "slot 9");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_open) == GDI_SLOT_OFFSET(GDI_SLOT_OPEN), "slot 12");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_close) == GDI_SLOT_OFFSET(GDI_SLOT_CLOSE), "slot 13");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_get_version) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_GET_VERSION), "slot 14");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_get_info) == GDI_SLOT_OFFSET(GDI_SLOT_GET_INFO),
                  "slot 15");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_cancel_waits) == GDI_SLOT_OFFSET(GDI_SLOT_CANCEL_WAITS),
                  "slot 16");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_connect) == GDI_SLOT_OFFSET(GDI_SLOT_CONNECT),
                  "slot 17");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_set_register_list) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_SET_REGISTER_LIST), "slot 18");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_set_memory_space_list) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_SET_MEMORY_SPACE_LIST), "slot 19");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_set_callback) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_SET_CALLBACK), "slot 20");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_set_option) == GDI_SLOT_OFFSET(GDI_SLOT_SET_OPTION),
                  "slot 23");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_write_comms) == GDI_SLOT_OFFSET(GDI_SLOT_WRITE_COMMS),
                  "slot 24");
GDI_STATIC_ASSERT(offsetof(DriverTable, reserved_25) == GDI_SLOT_OFFSET(25), "slot 25");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_write_memory) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_WRITE_MEMORY), "slot 36");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_read_memory) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_READ_MEMORY), "slot 37");
GDI_STATIC_ASSERT(offsetof(DriverTable, no_operation_41) == GDI_SLOT_OFFSET(41), "slot 41");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_write_register) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_WRITE_REGISTER), "slot 46");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_read_register) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_READ_REGISTER), "slot 47");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_create_register_group) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_CREATE_REGISTER_GROUP), "slot 48");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_delete_register_group) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_DELETE_REGISTER_GROUP), "slot 49");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_write_register_group) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_WRITE_REGISTER_GROUP), "slot 50");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_read_register_group) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_READ_REGISTER_GROUP), "slot 51");
GDI_STATIC_ASSERT(offsetof(DriverTable, reserved_52) == GDI_SLOT_OFFSET(52), "slot 52");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_get_cpu_state) ==
                      GDI_SLOT_OFFSET(GDI_SLOT_GET_CPU_STATE), "slot 56");
GDI_STATIC_ASSERT(offsetof(DriverTable, gdi_free) == GDI_SLOT_OFFSET(GDI_SLOT_FREE), "slot 57");

/* Records without pointers, on every build. */
GDI_STATIC_ASSERT(sizeof(BreakpointRequest) == 20, "BreakpointRequest size");
GDI_STATIC_ASSERT(offsetof(BreakpointRequest, arg2) == 4, "BreakpointRequest arg2");
GDI_STATIC_ASSERT(offsetof(BreakpointRequest, address) == 8, "BreakpointRequest address");
GDI_STATIC_ASSERT(offsetof(BreakpointRequest, cond) == 12, "BreakpointRequest cond");
GDI_STATIC_ASSERT(offsetof(BreakpointRequest, kind) == 16, "BreakpointRequest kind");
GDI_STATIC_ASSERT(sizeof(BreakpointEntry) == 24, "BreakpointEntry size");
GDI_STATIC_ASSERT(offsetof(BreakpointEntry, request) == 4, "BreakpointEntry request");
GDI_STATIC_ASSERT(sizeof(TargetStatus) == 8, "TargetStatus size");
GDI_STATIC_ASSERT(offsetof(TargetStatus, breakpoint) == 4, "TargetStatus breakpoint");
GDI_STATIC_ASSERT(sizeof(MemoryCell) == 8, "MemoryCell size");
GDI_STATIC_ASSERT(offsetof(MemoryCell, unused) == 4, "MemoryCell second word");
GDI_STATIC_ASSERT(sizeof(RegisterValue) == 8, "RegisterValue size");
GDI_STATIC_ASSERT(offsetof(RegisterValue, status) == 4, "RegisterValue status");
GDI_STATIC_ASSERT(sizeof(RegisterWriteItem) == 8, "RegisterWriteItem size");
GDI_STATIC_ASSERT(sizeof(CommsResult) == 16, "CommsResult size");
GDI_STATIC_ASSERT(offsetof(CommsResult, status) == 4, "CommsResult status");
GDI_STATIC_ASSERT(offsetof(CommsResult, status_read) == 8, "CommsResult status_read");
GDI_STATIC_ASSERT(offsetof(CommsResult, control) == 12, "CommsResult control");

/* Records with pointers: the exact layout of a 32-bit build. */
#if UINTPTR_MAX == 0xFFFFFFFFu
GDI_STATIC_ASSERT(sizeof(DriverTable) == 58 * 4, "DriverTable is 58 pointers");
GDI_STATIC_ASSERT(sizeof(RegisterListItem) == 12, "RegisterListItem size");
GDI_STATIC_ASSERT(offsetof(RegisterListItem, key) == 4, "RegisterListItem key");
GDI_STATIC_ASSERT(offsetof(RegisterListItem, supported) == 8, "RegisterListItem supported");
GDI_STATIC_ASSERT(sizeof(MemorySpaceItem) == 12, "MemorySpaceItem size");
GDI_STATIC_ASSERT(offsetof(MemorySpaceItem, supported) == 8, "MemorySpaceItem supported");
GDI_STATIC_ASSERT(sizeof(OpenOptions) == 12, "OpenOptions size");
GDI_STATIC_ASSERT(offsetof(OpenOptions, parameter) == 4, "OpenOptions parameter");
GDI_STATIC_ASSERT(offsetof(OpenOptions, speed) == 8, "OpenOptions speed");
GDI_STATIC_ASSERT(sizeof(ConnectRecord) == 12, "ConnectRecord size");
GDI_STATIC_ASSERT(offsetof(ConnectRecord, connected) == 4, "ConnectRecord connected");
GDI_STATIC_ASSERT(offsetof(ConnectRecord, port) == 8, "ConnectRecord port");
GDI_STATIC_ASSERT(sizeof(DriverInfo) == 148, "DriverInfo size");
GDI_STATIC_ASSERT(offsetof(DriverInfo, version_text) == 4, "DriverInfo version text");
GDI_STATIC_ASSERT(offsetof(DriverInfo, version) == 8, "DriverInfo version");
GDI_STATIC_ASSERT(offsetof(DriverInfo, speed_names) == 12, "DriverInfo speed names");
GDI_STATIC_ASSERT(offsetof(DriverInfo, speed_count) == 16, "DriverInfo speed count");
GDI_STATIC_ASSERT(offsetof(DriverInfo, comm_types) == 20, "DriverInfo comm types");
GDI_STATIC_ASSERT(offsetof(DriverInfo, constants) == 24, "DriverInfo constants");
GDI_STATIC_ASSERT(offsetof(DriverInfo, extra_text) == 116, "DriverInfo extra text");
GDI_STATIC_ASSERT(offsetof(DriverInfo, constants_120) == 120, "DriverInfo constants 120");
GDI_STATIC_ASSERT(offsetof(DriverInfo, constant_128) == 128, "DriverInfo 128");
GDI_STATIC_ASSERT(offsetof(DriverInfo, byte_order) == 132, "DriverInfo byte order");
GDI_STATIC_ASSERT(offsetof(DriverInfo, constant_136) == 136, "DriverInfo 136");
GDI_STATIC_ASSERT(offsetof(DriverInfo, constant_140) == 140, "DriverInfo 140");
GDI_STATIC_ASSERT(offsetof(DriverInfo, constant_144) == 144, "DriverInfo 144");
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ROMSMITH_DRIVER_API_GDI_H */
