// The integer filterbank's window sums in Thumb-1 assembly, for ARMv6-M
// (Cortex-M0/M0+) and ARMv8-M Baseline: the scheme of fixed_kernel.h's Sums
// (three 32-bit products and adds per window value, no carries), with the
// six sums of outputs j and 32 - j in high registers, each history value
// loaded and split once for both. GCC spills most of it when the same is
// written in C. Elsewhere this file is empty.
#include "fixed_kernel.h"

#if defined(SYNTHTAB_FIXED_MUL32)
// synthtab_fixed_sums_thumb1(wa, wb, x, out): out[0] = 2^14 T of window row
// wa against history row x (fixed_kernel.h: V 2^32 + E 2^22 + (U - 2^8 E) 2^14),
// out[1] the same of row wb; wb may be null (one output alone).
__asm__(R"(
  .syntax unified
  .section .text.synthtab_fixed_sums_thumb1,"ax",%progbits
  .align 1
  .global synthtab_fixed_sums_thumb1
  .hidden synthtab_fixed_sums_thumb1
  .thumb
  .thumb_func
  .type synthtab_fixed_sums_thumb1, %function
.macro SYNTHTAB_X s                @ r5 = x >> 18, r4 = x & (2^18 - 1)
  ldr r4, [r2, #4*\s]
  asrs r5, r4, #18
  lsls r4, r4, #14
  lsrs r4, r4, #14
.endm
.macro SYNTHTAB_W s, wp, v, e, u   @ v += xh k, e += xl (w >> 22), u += xl k
  ldr r6, [\wp, #4*\s]
  asrs r7, r6, #22
  asrs r6, r6, #14
  muls r7, r4
  add \e, r7
  movs r3, r6
  muls r3, r5
  add \v, r3
  muls r6, r4
  add \u, r6
.endm
.macro SYNTHTAB_T v, e, u          @ r0!: lo, hi of 2^14 T from V, E, U; r5 = 0
  mov r1, \e
  mov r2, \u
  lsls r3, r1, #8
  subs r2, r2, r3                  @ rest = U - 2^8 E, in [0, 2^31)
  lsls r3, r1, #22
  lsls r6, r2, #14
  asrs r4, r1, #10
  lsrs r2, r2, #18
  adds r4, r4, r2
  add r4, \v
  adds r3, r3, r6                  @ lo, and its carry into hi
  adcs r4, r5
  stm r0!, {r3, r4}
.endm
synthtab_fixed_sums_thumb1:
  push {r1, r3, r4, r5, r6, r7, lr}
  mov r4, r8
  mov r5, r9
  mov r6, r10
  mov r7, r11
  push {r4, r5, r6, r7}
  movs r3, #0
  mov r8, r3
  mov r9, r3
  mov r10, r3
  mov r11, r3
  mov r12, r3
  mov lr, r3
  cmp r1, #0
  bne 1f
  b 2f                             @ beyond a conditional branch's reach
1:
  .irp s, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15
  SYNTHTAB_X \s
  SYNTHTAB_W \s, r0, r8, r9, r10
  SYNTHTAB_W \s, r1, r11, r12, lr
  .endr
  b 3f
2:
  .irp s, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15
  SYNTHTAB_X \s
  SYNTHTAB_W \s, r0, r8, r9, r10
  .endr
3:
  ldr r0, [sp, #20]
  movs r5, #0
  SYNTHTAB_T r8, r9, r10
  ldr r1, [sp, #16]
  cmp r1, #0
  beq 4f
  SYNTHTAB_T r11, r12, lr
4:
  pop {r4, r5, r6, r7}
  mov r8, r4
  mov r9, r5
  mov r10, r6
  mov r11, r7
  pop {r1, r3, r4, r5, r6, r7, pc}
  .size synthtab_fixed_sums_thumb1, .-synthtab_fixed_sums_thumb1
  .purgem SYNTHTAB_X
  .purgem SYNTHTAB_W
  .purgem SYNTHTAB_T
)");
#endif
