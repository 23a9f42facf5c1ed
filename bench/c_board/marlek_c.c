/* A board library written in C, as a maker's library is likely to be: the
 * eleven functions of marlek_lib.h, each doing as little as a call can. Every
 * call succeeds, and the inputs read a fixed byte. bench/run-bench runs both
 * the programs and their plain-C baselines on it, so that their comparison
 * measures the programs alone and not a simulated board. */
#include "marlek_lib.h"

#include <stddef.h>

enum { INPUT_BYTE = 0xA5 };

LibStatus Marlek_DIOInit(void) { return 0; }

LibStatus Marlek_DIOFree(void) { return 0; }

LibStatus Marlek_DIOSetConfig(uint8_t outputMask, uint8_t pushPullMask) {
    (void)outputMask;
    (void)pushPullMask;
    return 0;
}

LibStatus Marlek_DIOInputByte(uint8_t *data) {
    if (data != NULL) *data = INPUT_BYTE;
    return 0;
}

LibStatus Marlek_DIOInputBit(int32_t pin, uint8_t *level) {
    if (level != NULL) *level = (uint8_t)((INPUT_BYTE >> (pin & 7)) & 1);
    return 0;
}

LibStatus Marlek_DIOOutputByte(uint8_t data, uint8_t enableMask) {
    (void)data;
    (void)enableMask;
    return 0;
}

LibStatus Marlek_DIOOutputBit(uint8_t data, uint8_t enableMask) {
    (void)data;
    (void)enableMask;
    return 0;
}

LibStatus MarlekLedConfig(uint8_t device, uint8_t *setting, int32_t firstComPort) {
    (void)device;
    (void)setting;
    (void)firstComPort;
    return 0;
}

LibStatus MarlekSerialConfig(uint8_t modeCode, PortPair *ports) {
    (void)modeCode;
    (void)ports;
    return 0;
}

LibStatus KVTGetLastError(LastErrorInfo *info) {
    if (info != NULL) {
        info->code = 0;
        info->text = "";
    }
    return 0;
}

const char *kvtGetErrorString(uint8_t code) { return code == 0 ? "no error" : "unknown error code"; }
