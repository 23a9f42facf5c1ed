// A stand-in board library that lacks MarlekSerialConfig, as a faulty or older
// library might: a program that needs that function must not start with it.
// Every other function answers as a board that works.
#include "marlek_lib.h"

extern "C" {

LibStatus Marlek_DIOInit(void) { return 0; }
LibStatus Marlek_DIOFree(void) { return 0; }
LibStatus Marlek_DIOSetConfig(uint8_t, uint8_t) { return 0; }
LibStatus Marlek_DIOInputByte(uint8_t* data) {
    *data = 0;
    return 0;
}
LibStatus Marlek_DIOInputBit(int32_t, uint8_t* level) {
    *level = 0;
    return 0;
}
LibStatus Marlek_DIOOutputByte(uint8_t, uint8_t) { return 0; }
LibStatus Marlek_DIOOutputBit(uint8_t, uint8_t) { return 0; }
LibStatus MarlekLedConfig(uint8_t, uint8_t*, int32_t) { return 0; }
LibStatus KVTGetLastError(LastErrorInfo* info) {
    info->code = 0;
    info->text = "";
    return 0;
}
const char* kvtGetErrorString(uint8_t) { return ""; }

}  // extern "C"
