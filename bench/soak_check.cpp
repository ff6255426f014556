// The frames a correct station shows for a link stream, by the reference
// receiver: gse_soak_check SENT BOUNDARIES
// SENT is every byte sent over the link; BOUNDARIES lists byte offsets (one a
// line) where the link went silent or away, so that the receiver's partial
// frame was dropped. Prints the upper-case hex of each good frame, one a
// line, and a summary line on standard error.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "fuzz/reference_receiver.h"

namespace {

struct Span {
  const uint8_t* p;
  size_t n;
  size_t size() const { return n; }
  uint8_t operator[](size_t i) const { return p[i]; }
};

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gse_soak_check SENT BOUNDARIES\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<uint8_t> sent((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ifstream bounds_in(argv[2]);
  std::set<size_t> bounds;
  for (size_t b; bounds_in >> b;) bounds.insert(b);
  bounds.insert(sent.size());

  static const char digits[] = "0123456789ABCDEF";
  char line[401];
  line[400] = '\0';
  size_t start = 0;
  long good = 0, completed = 0, failed_reads = 0;
  long long skipped = 0;
  for (size_t end : bounds) {
    if (end <= start || end > sent.size()) continue;
    Span seg{sent.data() + start, end - start};
    size_t at = 0;
    while (at < seg.size()) {
      reference::Outcome o = reference::receive(seg, &at);
      completed += o.completed;
      skipped += o.skipped;
      failed_reads += o.result == reference::REF_READ_FAILED;
      if (o.result != reference::REF_OK) continue;
      ++good;
      for (int i = 0; i < 200; ++i) {
        line[2 * i] = digits[o.frame[i] >> 4];
        line[2 * i + 1] = digits[o.frame[i] & 0x0F];
      }
      std::puts(line);
    }
    start = end;
  }
  std::fprintf(stderr, "bytes %zu good %ld completed %ld skipped %lld segments %zu\n", sent.size(), good,
               completed, skipped, bounds.size());
  return 0;
}
