# int call_misaligned(void* fn, const int* args, int count, int offset)
#
# Calls the cdecl function fn with `count` (at most 16) 32-bit arguments, with the stack pointer
# at the call `offset` bytes away from a 16-byte boundary, as a host that promises only 4-byte
# alignment may leave it.
    .text
    .globl _call_misaligned
_call_misaligned:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl 8(%ebp), %eax
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl 20(%ebp), %edx
    andl $-16, %esp
    subl $64, %esp
    subl %edx, %esp
    xorl %ebx, %ebx
1:
    cmpl %ecx, %ebx
    jge 2f
    movl (%esi,%ebx,4), %edi
    movl %edi, (%esp,%ebx,4)
    incl %ebx
    jmp 1b
2:
    call *%eax
    leal -12(%ebp), %esp
    popl %ebx
    popl %edi
    popl %esi
    popl %ebp
    ret
