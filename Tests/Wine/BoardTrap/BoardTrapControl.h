/* Requests of the test-only BoardTrap driver: chip registers, port trace, placement. C and C++. */
#ifndef BOARD_TRAP_CONTROL_H
#define BOARD_TRAP_CONTROL_H

#define BOARD_TRAP_WIN32_PATH "\\\\.\\BoardTrap"

#define BOARD_TRAP_CTL(function) ((0x22u << 16) | ((function) << 2))
#define IOCTL_BOARD_TRAP_GET_STATE BOARD_TRAP_CTL(0xA00)     /* out: BOARD_TRAP_STATE */
#define IOCTL_BOARD_TRAP_GET_TRACE BOARD_TRAP_CTL(0xA01)     /* in: unsigned long long first; out: BOARD_TRAP_TRACE */
#define IOCTL_BOARD_TRAP_CLEAR_TRACE BOARD_TRAP_CTL(0xA02)
#define IOCTL_BOARD_TRAP_SET_PLACEMENT BOARD_TRAP_CTL(0xA03) /* in: unsigned long BOARD_TRAP_PLACEMENT_* */
#define IOCTL_BOARD_TRAP_GET_REGISTER BOARD_TRAP_CTL(0xA04)  /* in: 2 bytes ldn, index; out: 1 byte */

#define BOARD_TRAP_PLACEMENT_2E 0
#define BOARD_TRAP_PLACEMENT_4E 1
#define BOARD_TRAP_PLACEMENT_ABSENT 2

typedef struct _BOARD_TRAP_STATE {
    unsigned long Placement;
    unsigned long TrappedInstructions;   /* IN/OUT executed on the chip model */
    unsigned long UndecodedFaults;       /* privileged-instruction faults left to Wine */
    unsigned long DataAccessOutsideConfig;
    unsigned long EnterKeyInConfig;
    unsigned long PropertyDataCalls;     /* IoSetDeviceInterfacePropertyData calls served */
    unsigned long long TraceCount;
    unsigned char ConfigMode;
    unsigned char SelectedLogicalDevice;
    unsigned char ChipId;
    unsigned char GpioDirection;         /* logical device 7, register 0xF0 */
    unsigned char GpioData;              /* register 0xF1 latch */
    unsigned char GpioInversion;         /* register 0xF2 */
    unsigned char GpioActivate;          /* register 0x30 */
    unsigned char LastPropertyData;      /* first data byte of the last property call */
    unsigned long LastPropertyType;
    unsigned long LastPropertyId;        /* pid of the last property key */
    unsigned long LastPropertyGuidData1;
} BOARD_TRAP_STATE;

typedef struct _BOARD_TRAP_OPERATION {
    unsigned short Port;
    unsigned char IsOut;
    unsigned char Value;
} BOARD_TRAP_OPERATION;

#define BOARD_TRAP_TRACE_BATCH 256
typedef struct _BOARD_TRAP_TRACE {
    unsigned long long Count;     /* operations since the last clear */
    unsigned long long First;     /* index of Operations[0] */
    unsigned long Returned;
    unsigned long Reserved;
    BOARD_TRAP_OPERATION Operations[BOARD_TRAP_TRACE_BATCH];
} BOARD_TRAP_TRACE;

#endif /* BOARD_TRAP_CONTROL_H */
