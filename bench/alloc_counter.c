/* Replaces the C allocator's entry points in the benchmark executable: each one counts the call
 * and forwards to the C library's own allocator. The executable's definitions take precedence
 * over the C library's for every module in the process, a module loaded later with dlopen
 * included. */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* pointer, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void* __libc_valloc(size_t size);
extern void* __libc_pvalloc(size_t size);
extern void __libc_free(void* pointer);

static uint64_t allocations;

static void count(void) {
    __atomic_fetch_add(&allocations, 1, __ATOMIC_RELAXED);
}

uint64_t quill_bench_allocation_count(void) {
    return __atomic_load_n(&allocations, __ATOMIC_RELAXED);
}

void* malloc(size_t size) {
    count();
    return __libc_malloc(size);
}

void* calloc(size_t count_, size_t size) {
    count();
    return __libc_calloc(count_, size);
}

void* realloc(void* pointer, size_t size) {
    count();
    return __libc_realloc(pointer, size);
}

void* memalign(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
    void* pointer;
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    count();
    pointer = __libc_memalign(alignment, size);
    if (pointer == NULL) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}

void* valloc(size_t size) {
    count();
    return __libc_valloc(size);
}

void* pvalloc(size_t size) {
    count();
    return __libc_pvalloc(size);
}

void free(void* pointer) {
    __libc_free(pointer);
}
