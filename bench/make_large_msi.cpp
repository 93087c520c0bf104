// Writes an installer-package-shaped compound file of about the given size, with libgsf (an
// independent writer): the installer class id on the root, a summary stream and a few small
// streams in the mini stream, and one large stream of pseudo-random bytes, written in chunks
// so that memory stays small. make_large_msi PATH BYTES
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

void AddStream(GsfOutfile* parent, const char* name, const std::string& content) {
  GsfOutput* out = gsf_outfile_new_child(parent, name, FALSE);
  gsf_output_write(out, content.size(), reinterpret_cast<const guint8*>(content.data()));
  gsf_output_close(out);
  g_object_unref(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: corvane-bench-make-msi PATH BYTES\n";
    return 2;
  }
  const std::uint64_t size = std::strtoull(argv[2], nullptr, 10);
  gsf_init();
  GError* error = nullptr;
  GsfOutput* sink = gsf_output_stdio_new(argv[1], &error);
  if (!sink) {
    std::cerr << "cannot create " << argv[1] << "\n";
    return 1;
  }
  GsfOutfile* file = gsf_outfile_msole_new_full(sink, 512, 64);
  g_object_unref(sink);
  static const guint8 kInstallerClsid[16] = {0x84, 0x10, 0x0C, 0x00, 0, 0, 0, 0,
                                             0xC0, 0,    0,    0,    0, 0, 0, 0x46};
  gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(file), kInstallerClsid);
  AddStream(file, "\x05SummaryInformation", std::string(400, 'S'));
  AddStream(file, "\xe4\xa1\x80\xe4\x88\xbf", std::string(1200, 'T'));
  AddStream(file, "\xe4\xa1\x80\xe3\xbf\xbf", std::string(64, 'C'));

  GsfOutput* big = gsf_outfile_new_child(file, "payload.cab", FALSE);
  std::vector<std::uint64_t> chunk((1 << 20) / 8);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (std::uint64_t done = 0; done < size;) {
    for (std::uint64_t& word : chunk) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    const std::uint64_t n = std::min<std::uint64_t>(size - done, chunk.size() * 8);
    gsf_output_write(big, n, reinterpret_cast<const guint8*>(chunk.data()));
    done += n;
  }
  gsf_output_close(big);
  g_object_unref(big);
  gsf_output_close(GSF_OUTPUT(file));
  g_object_unref(file);
  return 0;
}
