/* The record the zip engine hands to the component's callback while ZipEngineExec runs,
 * and the action codes it carries. Plain C: the engine and the component both include it.
 *
 * Fields are 32-bit little-endian numbers, except the two that hold addresses, which are
 * pointer-wide. On a 32-bit build the record is exactly 540 bytes with the offsets noted
 * beside each field; on a 64-bit build the addresses widen and the compiler's natural
 * alignment places the rest (checked below for both). */
#ifndef TALLOMIR_ZIPENGINE_ZIPCALLBACK_H
#define TALLOMIR_ZIPENGINE_ZIPCALLBACK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling convention of the engine's entry points and of the callback: stdcall on 32-bit
 * Windows, the platform default everywhere else. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZIPENGINE_CALL __stdcall
#else
#define ZIPENGINE_CALL
#endif

/* Size of the text field; a text that fills it without a zero byte is taken whole. */
#define ZIPENGINE_CALLBACK_TEXT_SIZE 512

/* What the engine reports in one callback. Any other code raises no event. */
enum EngineCallbackAction {
    ecbNewFile = 1,    /* a file is about to be processed: text = its name, number = its size */
    ecbProgress = 2,   /* number = bytes processed since the last report */
    ecbEndOfBatch = 3, /* the operation ended */
    ecbMessage = 4,    /* text = a message, errorCode = its code (0: none) */
    ecbTotalFiles = 5, /* number = files the operation will process */
    ecbTotalSize = 6   /* number = bytes the operation will process */
};

/* Byte counts (file sizes, progress, the total) travel in the 32-bit number. When the
 * batch's total does not fit it unsigned, the engine counts every byte count of the batch, from
 * the total on, in units of the least power of two that brings the total within 32 bits, and
 * says which in byteUnitShift; 0 (bytes) otherwise, which an engine that zero-fills the record
 * and knows nothing of it sends too. Progress then comes as the steps of the scaled running
 * count, so the steps add up to the scaled total. */
#define ZIPENGINE_MAX_UNIT_SHIFT 32

typedef struct EngineCallbackRecord {
    uintptr_t reserved0;                     /*  0: not read by the component */
    void* caller;                            /*  4: the call record's caller field, handed back unchanged */
    uint32_t byteUnitShift;                  /*  8: byte counts of this record count units of 2^this bytes */
    uint32_t reserved12;                     /* 12: not read by the component */
    int32_t action;                          /* 16: an EngineCallbackAction */
    int32_t errorCode;                       /* 20: for ecbMessage */
    int32_t number;                          /* 24: file size, byte count, file count or byte total */
    char text[ZIPENGINE_CALLBACK_TEXT_SIZE]; /* 28: single-byte, ends at the first zero byte */
} EngineCallbackRecord;

/* The callback whose address travels in the call record: returns -1 to ask the engine to
 * stop, 0 to go on. */
typedef int32_t(ZIPENGINE_CALL* EngineCallbackFunc)(EngineCallbackRecord* record);

#ifdef __cplusplus
}
#endif

/* Layout checks. */
#ifdef __cplusplus
#define ZIPENGINE_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ZIPENGINE_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, caller) == 4, "callback caller at 4");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, action) == 16, "callback action at 16");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, errorCode) == 20, "callback error code at 20");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, number) == 24, "callback number at 24");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, text) == 28, "callback text at 28");
ZIPENGINE_STATIC_ASSERT(sizeof(EngineCallbackRecord) == 540, "callback record is 540 bytes");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, caller) == 8, "callback caller at 8");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, action) == 24, "callback action at 24");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, errorCode) == 28, "callback error code at 28");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, number) == 32, "callback number at 32");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallbackRecord, text) == 36, "callback text at 36");
ZIPENGINE_STATIC_ASSERT(sizeof(EngineCallbackRecord) == 552, "callback record is 552 bytes");
#endif

#endif /* TALLOMIR_ZIPENGINE_ZIPCALLBACK_H */
