/* The request contract between TamLED and OrvLED: control codes and the request buffer, for C and C++. */
#ifndef LED_IOCTL_H
#define LED_IOCTL_H

/* The standard control-code layout: device type, access, function, method. */
#define LED_CTL_CODE(DeviceType, Function, Method, Access) \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))

#define LED_FILE_DEVICE_UNKNOWN 0x00000022
#define LED_METHOD_BUFFERED 0
#define LED_FILE_ANY_ACCESS 0

#define IOCTL_LED_GET_COUNT LED_CTL_CODE(LED_FILE_DEVICE_UNKNOWN, 0x910, LED_METHOD_BUFFERED, LED_FILE_ANY_ACCESS)
#define IOCTL_LED_GET_STATUS LED_CTL_CODE(LED_FILE_DEVICE_UNKNOWN, 0x911, LED_METHOD_BUFFERED, LED_FILE_ANY_ACCESS)
#define IOCTL_LED_SET_STATUS LED_CTL_CODE(LED_FILE_DEVICE_UNKNOWN, 0x912, LED_METHOD_BUFFERED, LED_FILE_ANY_ACCESS)
#define IOCTL_LED_GET_DIRECTION LED_CTL_CODE(LED_FILE_DEVICE_UNKNOWN, 0x913, LED_METHOD_BUFFERED, LED_FILE_ANY_ACCESS)
#define IOCTL_LED_SET_DIRECTION LED_CTL_CODE(LED_FILE_DEVICE_UNKNOWN, 0x914, LED_METHOD_BUFFERED, LED_FILE_ANY_ACCESS)

/* Two bytes, no pointers and nothing whose size depends on the build: the 32-bit library and the 64-bit
   driver share it unconverted. */
typedef struct _LED_IO_BUFFER {
    unsigned char Port;  /* LED number, 0 to 7 */
    unsigned char Value; /* set: the state or direction to set; get: written by the driver, 0 or 1 */
} LED_IO_BUFFER, *PLED_IO_BUFFER;

/* Compile-time checks that hold in C and C++ alike: a negative array size fails the build. */
typedef char LED_IO_BUFFER_IS_TWO_BYTES[(sizeof(LED_IO_BUFFER) == 2) ? 1 : -1];
typedef char LED_IOCTL_GET_COUNT_VALUE[(IOCTL_LED_GET_COUNT == 0x222440) ? 1 : -1];
typedef char LED_IOCTL_SET_DIRECTION_VALUE[(IOCTL_LED_SET_DIRECTION == 0x222450) ? 1 : -1];

/* The count reply: the number of LEDs as 4 bytes, little-endian. */
#define LED_COUNT_REPLY_LENGTH 4

#endif /* LED_IOCTL_H */
