/* bridge_model.c: a C user of the bridge TavrinDll: opens the network device at PATH, prints its
 * model and the number of command names, closes it.
 * usage: bridge_model a.b.c.d:port */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif
#include <stdio.h>
#include <string.h>
#include <tavrin/bridge.h>

#ifdef _WIN32
#include <windows.h>
static void pause_ms(unsigned ms) { Sleep(ms); }
#else
#include <time.h>
static void pause_ms(unsigned ms) {
    struct timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&t, NULL);
}
#endif

int main(int argc, char** argv) {
    tavrin_wchar_t path[64];
    char model[64];
    const tavrin_wchar_t* name = NULL;
    uint16_t code = 0;
    uint16_t names = 0;
    int32_t device = -1;
    int32_t rc;
    size_t i;

    if (argc != 2 || strlen(argv[1]) >= 64) {
        fprintf(stderr, "usage: %s a.b.c.d:port\n", argv[0]);
        return 2;
    }
    for (i = 0; i <= strlen(argv[1]); ++i) /* an ASCII path as the target's wide text */
        path[i] = (tavrin_wchar_t)(unsigned char)argv[1][i];

    while (DEEnumProtoCode(&name, names, &code) == DE_OK && name != NULL) ++names;
    printf("command names: %u\n", (unsigned)names);

    rc = DEOpenDev(&device, path, 2000, 2000, PORT_NET_DATA, MODE_DATA | MODE_CTRL);
    if (rc != DE_OK) {
        fprintf(stderr, "DEOpenDev: 0x%08lx\n", (unsigned long)rc);
        return 1;
    }
    /* The connections are made in the background: give them up to 5 seconds. */
    for (i = 0; i < 50; ++i) {
        rc = DEGetDevType(device, model, (int32_t)sizeof model);
        if (rc == DE_OK) break;
        pause_ms(100);
    }
    if (rc == DE_OK) printf("model: %s\n", model);
    else fprintf(stderr, "DEGetDevType: 0x%08lx\n", (unsigned long)rc);
    DECloseDev(device);
    return rc == DE_OK ? 0 : 1;
}
