// The port accesses as plain assembly, assembled by the C++ compiler so the
// build needs no assembler language of its own.
//
// The compiler cannot be trusted with these: all seven registers (rbx and rbp
// among them, which it may reserve) must hold the block's values at the
// moment of the access, and the hypervisor may change any of them. So each
// function saves the non-volatile registers it uses, keeps the block pointer
// on its own stack while rcx carries the count, and describes its frame in
// the unwind data: if the access faults (no hypervisor), exception dispatch
// and stack walks still see a well-formed function.
//
// This file holds nothing but the assembly: the compiler keeps no section
// state across it.
#include "hostChannel/hostPort.h"

#if !defined(__x86_64__)
#error "the host port accesses are written for x86-64"
#endif

// Windows x64: the block arrives in rcx. 4 pushes + 24 bytes + the return
// address keep rsp 16-byte aligned at the access.
#define OV_HOST_PORT_FUNCTION(name, access) \
   "   .text\n" \
   "   .p2align 4\n" \
   "   .globl " #name "\n" \
   "   .def " #name "; .scl 2; .type 32; .endef\n" \
   "   .seh_proc " #name "\n" \
   #name ":\n" \
   "   pushq %rbx\n" \
   "   .seh_pushreg %rbx\n" \
   "   pushq %rbp\n" \
   "   .seh_pushreg %rbp\n" \
   "   pushq %rdi\n" \
   "   .seh_pushreg %rdi\n" \
   "   pushq %rsi\n" \
   "   .seh_pushreg %rsi\n" \
   "   subq $24, %rsp\n" \
   "   .seh_stackalloc 24\n" \
   "   .seh_endprologue\n" \
   "   movq %rcx, (%rsp)\n" \
   "   movq 0(%rcx), %rax\n" \
   "   movq 8(%rcx), %rbx\n" \
   "   movq 24(%rcx), %rdx\n" \
   "   movq 32(%rcx), %rsi\n" \
   "   movq 40(%rcx), %rdi\n" \
   "   movq 48(%rcx), %rbp\n" \
   "   movq 16(%rcx), %rcx\n" \
   access \
   "   movq %rcx, 8(%rsp)\n" \
   "   movq (%rsp), %rcx\n" \
   "   movq %rax, 0(%rcx)\n" \
   "   movq %rbx, 8(%rcx)\n" \
   "   movq %rdx, 24(%rcx)\n" \
   "   movq %rsi, 32(%rcx)\n" \
   "   movq %rdi, 40(%rcx)\n" \
   "   movq %rbp, 48(%rcx)\n" \
   "   movq 8(%rsp), %rax\n" \
   "   movq %rax, 16(%rcx)\n" \
   "   addq $24, %rsp\n" \
   "   popq %rsi\n" \
   "   popq %rdi\n" \
   "   popq %rbp\n" \
   "   popq %rbx\n" \
   "   ret\n" \
   "   .seh_endproc\n"

__asm__(
   OV_HOST_PORT_FUNCTION(HostPort_Call, "   inl %dx, %eax\n")
   OV_HOST_PORT_FUNCTION(HostPort_HbOut, "   cld\n   rep outsb\n")
   OV_HOST_PORT_FUNCTION(HostPort_HbIn, "   cld\n   rep insb\n"));
