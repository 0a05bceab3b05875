/* The vector table of a test program under qemu-system-arm (mps2.ld): the
 * stack top, a reset handler that enables the FPU where the build uses one
 * and enters newlib's semihosting start-up (rdimon-crt0), and a fault handler
 * that exits with status 99 rather than hang. */
#include <stdint.h>

extern void _start(void);
extern void _exit(int);
extern char __stack[];

static void reset(void) {
#if defined(__ARM_FP)
  *(volatile uint32_t *)0xE000ED88u |= 0xFu << 20; /* CPACR: CP10 and CP11 full access */
  __asm__ volatile("dsb\n\tisb");
#endif
  _start();
}

static void fault(void) { _exit(99); }

__attribute__((section(".vectors"), used)) static void (*const vectors[16])(void) = {
    (void (*)(void))(uintptr_t)__stack, reset, fault, fault, fault, fault, fault};
