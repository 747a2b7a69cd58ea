/* Checks that the array velk made holds the app image byte for byte. */
#include <stdio.h>

#include "app_image.h"

int main(int argc, char **argv) {
    FILE *in = fopen(argc > 1 ? argv[1] : "app.bin", "rb");
    if (in == NULL) return 1;
    unsigned long n = 0;
    int c;
    while ((c = fgetc(in)) != EOF) {
        if (n >= app_image_len || app_image[n] != (uint8_t)c) return 1;
        ++n;
    }
    fclose(in);
    if (n != app_image_len) return 1;
    printf("app_image: %lu bytes, as app.bin\n", n);
    return 0;
}
