/* A third-party C client of the installed module library: built with
     cc module_client.c $(pkg-config --cflags --libs ksn48api)
   it opens a KSN48 module, takes one short frame of all eight channels and
   checks what the built-in population of ksn-crated feeds them (sines on
   channels 1 to 6, an open circuit on 7, a short circuit on 8).
   Usage: module_client PORT CRATE SLOT. Exit status 0 when all holds. */
#include <ksn48api.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { SAMPLES_PER_CHANNEL = 1000, WORDS = KSN48_CHANNEL_COUNT * SAMPLES_PER_CHANNEL };

static int Check(int result, const char* call)
{
    if (result < 0) {
        fprintf(stderr, "module_client: %s failed: %s (%d)\n", call, KSN_ErrorName(result), result);
        exit(1);
    }
    return result;
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: module_client PORT CRATE SLOT\n");
        return 2;
    }
    const int port = atoi(argv[1]);
    const int slot = atoi(argv[3]);

    static Ksn48Handle module;
    Check(KSN48_Init(&module), "KSN48_Init");
    Check(KSN48_Open(&module, KSN48_DEFAULT_ADDRESS, (uint16_t)port, argv[2], slot), "KSN48_Open");
    printf("module %s serial %s firmware %u in slot %d of %s\n", module.ModuleName,
           module.ModuleSerial, (unsigned)module.FirmwareVersion, slot, argv[2]);

    for (int ch = 0; ch < KSN48_CHANNEL_COUNT; ++ch) {
        module.Channel[ch].ChannelEnabled = 1;
    }
    module.RateCode = 0; /* 78125 Hz */
    module.DataFormat = 0;
    module.CurrentSource = 0;
    Check(KSN48_SetADC(&module), "KSN48_SetADC");
    Check(KSN48_Start(&module), "KSN48_Start");
    static uint32_t words[WORDS];
    uint32_t received = 0;
    while (received < WORDS) {
        received += (uint32_t)Check(
            KSN48_Recv(&module, words + received, NULL, WORDS - received, 2000), "KSN48_Recv");
    }
    Check(KSN48_Stop(&module), "KSN48_Stop");

    static double volts[WORDS];
    uint32_t size = WORDS;
    int32_t status[KSN48_CHANNEL_COUNT];
    Check(KSN48_ProcessData(&module, words, volts, &size, KSN48_FLAG_CONVERT, status),
          "KSN48_ProcessData");
    Check(KSN48_Close(&module), "KSN48_Close");

    int faults = 0;
    for (int ch = 0; ch < KSN48_CHANNEL_COUNT; ++ch) {
        double peak = 0.0;
        for (uint32_t i = (uint32_t)ch; i < size; i += KSN48_CHANNEL_COUNT) {
            peak = fmax(peak, fabs(volts[i]));
        }
        const int expected = ch == 6   ? KSN48_STATUS_OPEN
                             : ch == 7 ? KSN48_STATUS_SHORT
                                       : KSN48_STATUS_VALID;
        const int sine = expected == KSN48_STATUS_VALID && peak > 0.1 && peak <= 5.0;
        const int ok = status[ch] == expected && (expected != KSN48_STATUS_VALID || sine);
        printf("channel %d: status %d, peak %.3f V%s\n", ch + 1, (int)status[ch], peak,
               ok ? "" : "  <- unexpected");
        faults += !ok;
    }
    return faults == 0 ? 0 : 1;
}
