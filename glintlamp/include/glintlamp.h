/* Glintlamp: the laptop LED, driven through the firmware's WMI device-control class. */
#ifndef GLINTLAMP_H
#define GLINTLAMP_H

#include <stdint.h>

#ifdef _WIN32
#define ZELV_CALL __cdecl
#else
#define ZELV_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results: 0 is success, every other value a failure. Besides the library's own codes
   below, E_POINTER (0x80004003), E_OUTOFMEMORY (0x8007000E), WBEM_E_OUT_OF_MEMORY
   (0x80041006), E_UNEXPECTED (0x8000FFFF: a system call reported success but handed back
   nothing) and any failure of a COM or WMI call are returned as they are. */
typedef int32_t ZELV_RESULT;

#define LED_E_CLASS_NOT_FOUND ((ZELV_RESULT)0xA0000000)  /* no firmware class in root\wmi */
#define LED_E_BUFFER_TOO_SMALL ((ZELV_RESULT)0xA0000001) /* firmware buffer below 128 bytes */
#define LED_E_DEVICE_STATUS_1 ((ZELV_RESULT)0xA0000002)  /* the firmware answered status 1 */
#define LED_E_DEVICE_STATUS_2 ((ZELV_RESULT)0xA0000003)  /* the firmware answered status 2 */
#define LED_E_DEVICE_STATUS_3 ((ZELV_RESULT)0xA0000004)  /* the firmware answered status 3 */
#define LED_E_INVALID_STATE ((ZELV_RESULT)0xA0000005)    /* a state other than 1 to 4 */
#define LED_E_DEVICE_FAILURE ((ZELV_RESULT)0xA0000006)   /* the firmware answered status 5+ */

/* LED states, as Zelv_LedSetState takes them and Zelv_LedGetState reports them. */
#define LED_STATE_UNKNOWN 0
#define LED_STATE_ON 1
#define LED_STATE_OFF 2
#define LED_STATE_MODE_8 3
#define LED_STATE_MODE_1 4

/* Fills each non-null pointer with the library version (1, 0, 12091), then asks the
   firmware whether it has the LED control. */
ZELV_RESULT ZELV_CALL Zelv_LedDetect(int32_t* major, int32_t* minor, int32_t* build);
/* Switches the LED: LED_STATE_ON, _OFF, _MODE_8 or _MODE_1. */
ZELV_RESULT ZELV_CALL Zelv_LedSetState(uint32_t state);
/* Reads the LED state back; *state is written only on success. */
ZELV_RESULT ZELV_CALL Zelv_LedGetState(int32_t* state);
/* Releases the device connection and the command buffer; the next call starts over. */
void ZELV_CALL Zelv_LedExit(void);

#ifdef __cplusplus
}
#endif

#endif
