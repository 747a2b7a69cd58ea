/* Writes a stand-in for a boot, stack or app image: a few KiB of bytes
 * that differ per part, so the merged image shows where each one went. */
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: make_part boot|stack|app FILE\n");
        return 2;
    }
    const unsigned length = strcmp(argv[1], "boot") == 0 ? 3000u
                            : strcmp(argv[1], "stack") == 0 ? 9000u : 5000u;
    const unsigned seed = (unsigned char)argv[1][0];
    FILE *out = fopen(argv[2], "wb");
    if (out == NULL) return 1;
    for (unsigned i = 0; i < length; ++i) {
        if (fputc((int)((i * 7u + seed) & 0xFFu), out) == EOF) return 1;
    }
    return fclose(out) == 0 ? 0 : 1;
}
