/* Whether this kernel lets a 64-bit process run 32-bit code, which Wine's
 * WoW64 mode needs and nothing else in the tests tells: jump to the 32-bit
 * user code segment (selector 0x23), load 42 into eax there, and come back
 * through the 64-bit segment (0x33). Exits 0 when that worked; a kernel
 * without the segment kills the process instead. x86-64 Linux only. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

int main(void) {
  /* Code and stack the 32-bit side can address: below 4 GB. */
  unsigned char* low = mmap((void*)0x20000000, 65536, PROT_READ | PROT_WRITE | PROT_EXEC,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (low == MAP_FAILED) {
    perror("mmap");
    return 2;
  }
  unsigned char* landing = low + 1024;
  const uint32_t landing_address = (uint32_t)(uintptr_t)landing;
  /* 32-bit: mov eax, 42; push 0x33; push landing; retf */
  unsigned char in_32_bits[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0x6A, 0x33, 0x68, 0, 0, 0, 0, 0xCB};
  memcpy(in_32_bits + 8, &landing_address, sizeof landing_address);
  memcpy(low, in_32_bits, sizeof in_32_bits);
  /* 64-bit again: mov rsp, rbx; jmp r12 (back to the saved stack and code) */
  const unsigned char back_in_64_bits[] = {0x48, 0x89, 0xDC, 0x41, 0xFF, 0xE4};
  memcpy(landing, back_in_64_bits, sizeof back_in_64_bits);
  const uint64_t stack_top = (uint64_t)(uintptr_t)(low + 65536 - 128);
  uint32_t result;
  /* rbx and r12 keep the 64-bit stack and return address across the trip;
   * both are saved and restored around it. */
  __asm__ volatile(
      "push %%rbx\n\t"
      "push %%r12\n\t"
      "mov %%rsp, %%rbx\n\t"
      "lea 1f(%%rip), %%r12\n\t"
      "mov %2, %%rsp\n\t"
      "pushq $0x23\n\t"
      "pushq %1\n\t"
      "lretq\n"
      "1:\n\t"
      "pop %%r12\n\t"
      "pop %%rbx\n\t"
      : "=a"(result)
      : "S"((uint64_t)(uintptr_t)low), "D"(stack_top)
      : "memory");
  printf("32-bit code inside a 64-bit process: %s\n", result == 42 ? "runs" : "gives a wrong result");
  return result == 42 ? 0 : 1;
}
