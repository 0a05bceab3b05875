/* The vector table of a test program under qemu-system-arm (mps2.ld): the
 * stack top, newlib's semihosting start-up (rdimon-crt0), and a fault handler
 * that exits with status 99 rather than hang. */
#include <stdint.h>

extern void _start(void);
extern void _exit(int);
extern char __stack[];

static void fault(void) { _exit(99); }

__attribute__((section(".vectors"), used)) static void (*const vectors[16])(void) = {
    (void (*)(void))(uintptr_t)__stack, _start, fault, fault, fault, fault, fault};
