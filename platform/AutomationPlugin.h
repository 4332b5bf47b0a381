/* The C boundary between the program and an automation server plugin.
 *
 * A plugin is a shared library named after the programmatic identifier it serves
 * ("MapInfo.Runtime.so") in the automation folder. It exports one function,
 * TallomirCreateAutomationObject, which returns a new object or NULL when the server cannot
 * start. Every call on the object names its method and passes one text argument; the
 * answer is a text. Texts are byte strings with explicit lengths (they may hold any byte).
 */
#ifndef TALLOMIR_AUTOMATION_PLUGIN_H
#define TALLOMIR_AUTOMATION_PLUGIN_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TALLOMIR_AUTOMATION_ABI 1

/* Results of invoke. On every result the object may hand back a text in *out (the answer,
 * or the server's message); the caller releases it with free_text. */
enum {
    TALLOMIR_INVOKE_OK = 0,
    TALLOMIR_INVOKE_ERROR = 1,         /* the server rejected the call; *out is its message */
    TALLOMIR_INVOKE_UNKNOWN_METHOD = 2 /* no method of that name */
};

typedef struct TallomirAutomationObject {
    unsigned abi_version; /* TALLOMIR_AUTOMATION_ABI */
    void* self;
    int (*invoke)(void* self, const char* method, const char* arg, size_t arg_len, char** out, size_t* out_len);
    void (*free_text)(void* self, char* text);
    void (*release)(void* self); /* ends the object; the struct is invalid afterwards */
} TallomirAutomationObject;

typedef TallomirAutomationObject* (*TallomirCreateAutomationObjectFn)(void);

#define TALLOMIR_AUTOMATION_ENTRY "TallomirCreateAutomationObject"

#if defined(_WIN32)
#define TALLOMIR_PLUGIN_EXPORT __declspec(dllexport)
#else
#define TALLOMIR_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
}
#endif

#endif
