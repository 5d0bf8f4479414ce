// Thumbnails per second for 12-megapixel JPEGs, the way the worker makes
// them: decode from memory with the program's loader, fit into 100 × 75.
//   thumbnail_bench [COUNT]
// Prints the rate; a measurement to run by hand, not a test.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "test_card.h"
#include "ui/widgets/thumbnail_decoder.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  QTemporaryDir work;
  const QString path = work.filePath("large.jpg");
  std::string why;
  if (!kestrix::test::makeLargeJpeg(path, &why)) {
    std::fprintf(stderr, "thumbnail_bench: %s\n", why.c_str());
    return 1;
  }
  QFile input(path);
  if (!input.open(QIODevice::ReadOnly)) return 1;
  const QByteArray bytes = input.readAll();
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
  const auto size = static_cast<uint64_t>(bytes.size());
  if (kestrix::decodeThumbnail(data, size, ".jpg").isNull()) {
    std::fprintf(stderr, "thumbnail_bench: the picture did not decode\n");
    return 1;
  }
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < count; ++i) kestrix::decodeThumbnail(data, size, ".jpg");
  const double seconds = clock.nsecsElapsed() / 1e9;
  std::printf("%d thumbnails of 4000 x 3000 JPEGs in %.2f s: %.2f per second\n", count, seconds,
              count / seconds);
  return 0;
}
