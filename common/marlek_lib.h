/* Declarations of the board support library (MarlekLib) as the programs use it.
 * The programs import these operations by name at load time; the maker's library
 * or the simulated board library (marlek_sim/) supplies them. */
#ifndef MARLEK_LIB_H
#define MARLEK_LIB_H

#include <stdint.h>

#if defined(_WIN32) && defined(MARLEK_BUILDING_LIBRARY)
#define MARLEK_API __declspec(dllexport)
#elif defined(_WIN32)
#define MARLEK_API __declspec(dllimport)
#elif defined(MARLEK_BUILDING_LIBRARY)
#define MARLEK_API __attribute__((visibility("default")))
#else
#define MARLEK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t LibStatus; /* 0 = success */
typedef struct LastErrorInfo { uint8_t code; const char *text; } LastErrorInfo;
typedef struct PortPair { int32_t first; int32_t second; } PortPair;

MARLEK_API LibStatus Marlek_DIOInit(void);
MARLEK_API LibStatus Marlek_DIOFree(void);
MARLEK_API LibStatus Marlek_DIOSetConfig(uint8_t outputMask, uint8_t pushPullMask);
MARLEK_API LibStatus Marlek_DIOInputByte(uint8_t *data);
MARLEK_API LibStatus Marlek_DIOInputBit(int32_t pin, uint8_t *level);
MARLEK_API LibStatus Marlek_DIOOutputByte(uint8_t data, uint8_t enableMask);
MARLEK_API LibStatus Marlek_DIOOutputBit(uint8_t data, uint8_t enableMask);
MARLEK_API LibStatus MarlekLedConfig(uint8_t device, uint8_t *setting, int32_t firstComPort);
MARLEK_API LibStatus MarlekSerialConfig(uint8_t modeCode, PortPair *ports);
MARLEK_API LibStatus KVTGetLastError(LastErrorInfo *info);
MARLEK_API const char *kvtGetErrorString(uint8_t code);

#ifdef __cplusplus
}
#endif

#endif /* MARLEK_LIB_H */
