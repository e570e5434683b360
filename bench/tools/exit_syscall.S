// The least a process can be: its entry point asks the kernel to end it, with
// no C library, no loader and no relocation. What remains is what creating,
// loading and ending a process costs the kernel (bench/evtx_speed.sh).
        .text
        .globl _start
_start:
        mov $60, %eax       // exit
        xor %edi, %edi
        syscall
        .section .note.GNU-stack,"",@progbits
