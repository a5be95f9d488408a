// The guest's three accesses to the hypervisor's I/O ports (x86-64 only).
//
// Each function loads the seven words of the block into the registers of the
// same names, performs one port access and stores all seven registers back,
// so that the hypervisor's answer is read from the block. Only the low 32
// bits of each word carry meaning.
#pragma once

#include <cstddef>
#include <cstdint>

// The word order is fixed: the assembly addresses the words by offset.
struct HostPortRegisters {
   uint64_t eax;
   uint64_t ebx;
   uint64_t ecx;
   uint64_t edx;
   uint64_t esi;
   uint64_t edi;
   uint64_t ebp;
};

static_assert(sizeof(HostPortRegisters) == 7 * 8, "seven 64-bit words");
static_assert(offsetof(HostPortRegisters, ecx) == 16 &&
                 offsetof(HostPortRegisters, edx) == 24 &&
                 offsetof(HostPortRegisters, ebp) == 48,
              "hostPort.cpp addresses the words by these offsets");

extern "C" {
// 32-bit read from the port in dx (the low-bandwidth call).
void HostPort_Call(HostPortRegisters *regs);
// ecx bytes from rsi to the port in dx, direction flag cleared.
void HostPort_HbOut(HostPortRegisters *regs);
// ecx bytes from the port in dx to rdi, direction flag cleared.
void HostPort_HbIn(HostPortRegisters *regs);
}
