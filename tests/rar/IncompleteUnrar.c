/* A library named like the RAR library that lacks most of its functions. */
__attribute__((visibility("default"))) void* RAROpenArchive(void* data) { return 0; }
