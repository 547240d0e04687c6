/* An application outside the suite: scans a grey strip through
 * ScannerCommander, as built with `cc scan_strip.c $(pkg-config --cflags
 * --libs ferrox)`, and writes it as a PGM file.
 *   scan_strip OUT.pgm  -> prints "product=<name> lines=<n> width=<pixels>" */
#include <ferrox/ferrox.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int16_t g_lastEvent = -1;

static int16_t progress(uint32_t event, uint32_t amount) {
  (void)amount;
  g_lastEvent = (int16_t)event;
  return 0;
}

static int fail(const char* doing, int status) {
  fprintf(stderr, "scan_strip: %s: status %d\n", doing, status);
  return 1;
}

int main(int argc, char** argv) {
  enum { kDpi = 100, kWidth = 300, kHeight = 150 }; /* 1 x 0.5 inch in 1/300 inch */
  const uint32_t pixels = kWidth * kDpi / 300, lines = kHeight * kDpi / 300;
  ScannerCommand command;
  ProductRecord product;
  ScanParameters parameters;
  LimitsRecord limits;
  int status;
  if (argc != 2) return 2;
  memset(&command, 0, sizeof command);
  command.code = CMD_OPEN;
  if ((status = ScannerCommander(&command)) != SCAN_OK) return fail("open", status);
  command.code = CMD_LOCK;
  if ((status = ScannerCommander(&command)) != SCAN_OK) return fail("lock", status);
  command.code = CMD_GET_PRODUCT_INFO;
  command.data = &product;
  if ((status = ScannerCommander(&command)) != SCAN_OK) return fail("product", status);
  command.code = CMD_GET_SCAN_LIMITS;
  command.data = &limits;
  command.value = SOURCE_FLATBED << 16;
  if ((status = ScannerCommander(&command)) != SCAN_OK) return fail("limits", status);
  if (limits.widthLimit < kWidth || limits.heightLimit < kHeight) return fail("bed size", 0);
  command.code = CMD_SET_PROGRESS_CALLBACK;
  command.data = (void*)&progress;
  if ((status = ScannerCommander(&command)) != SCAN_OK) return fail("callback", status);

  memset(&parameters, 0, sizeof parameters);
  parameters.frame.width = kWidth;
  parameters.frame.height = kHeight;
  parameters.frame.xResolution = parameters.frame.yResolution = kDpi;
  parameters.frame.dataType = DATATYPE_GREY;
  parameters.mapMode = MAP_MODE_BUILT_IN;
  command.code = CMD_SET_PARAMETERS;
  command.data = &parameters;
  if ((status = ScannerCommander(&command)) != SCAN_OK) return fail("parameters", status);
  command.code = CMD_START_SCAN;
  command.data = NULL;
  if ((status = ScannerCommander(&command)) != SCAN_OK) return fail("start", status);

  unsigned char* image = (unsigned char*)calloc(lines, pixels);
  uint32_t got = 0;
  while (image != NULL && got < lines) {
    command.code = CMD_READ_LINES;
    command.data = image + (size_t)got * pixels;
    command.value = (lines - got) * pixels;
    status = ScannerCommander(&command);
    if (status == SCAN_END_OF_DATA || (status == SCAN_OK && command.result == 0)) break;
    if (status != SCAN_OK) return fail("read", status);
    got += command.result;
  }
  command.code = CMD_END_SCAN;
  ScannerCommander(&command);
  command.code = CMD_UNLOCK;
  ScannerCommander(&command);
  command.code = CMD_CLOSE;
  ScannerCommander(&command);

  FILE* out = fopen(argv[1], "wb");
  if (image == NULL || out == NULL) return fail("output", SCAN_ERR_RESOURCE);
  fprintf(out, "P5\n%u %u\n255\n", (unsigned)pixels, (unsigned)got);
  fwrite(image, pixels, got, out);
  fclose(out);
  free(image);
  printf("product=%s lines=%u width=%u progress=%d\n", product.productName, (unsigned)got,
         (unsigned)pixels, g_lastEvent);
  return 0;
}
