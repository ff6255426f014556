/* The floor headless playback is measured against (bench/playback_ratio.sh):
 * the least any reader of a recording must do, in plain C. It reads FILE in
 * 200-byte records through stdio, as the playback reader does, and sums
 * their bytes, so that the loop is not optimised away.
 *   floor FILE      prints "RECORDS records, byte sum SUM"
 */
#include <stdio.h>

enum { RECORD_LEN = 200 };

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: floor FILE\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  if (in == NULL) {
    perror(argv[1]);
    return 1;
  }
  unsigned char record[RECORD_LEN];
  unsigned long long records = 0, sum = 0;
  while (fread(record, RECORD_LEN, 1, in) == 1) {
    for (int i = 0; i < RECORD_LEN; ++i) sum += record[i];
    ++records;
  }
  fclose(in);
  printf("%llu records, byte sum %llu\n", records, sum);
  return 0;
}
