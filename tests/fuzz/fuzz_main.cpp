// The stand-alone runner of a fuzz target, for builds without libFuzzer (the
// sanitizer build of the regular test run). It takes the arguments the way
// libFuzzer does: corpus folders or files, -runs=N fresh inputs, -seed=S.
// Every corpus file is run as it is, then N inputs made by mutating corpus
// files with a fixed-seed generator, so a run is exactly repeatable.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int*, char***);

namespace {

void runOne(const QByteArray& input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()),
                           static_cast<size_t>(input.size()));
}

QByteArray mutate(QByteArray in, const std::vector<QByteArray>& corpus, std::mt19937& rng) {
    auto pick = [&](size_t n) { return n == 0 ? size_t{0} : size_t(rng() % n); };
    const int steps = 1 + int(rng() % 4);
    for (int s = 0; s < steps; ++s) {
        switch (rng() % 7) {
        case 0: // flip a bit
            if (!in.isEmpty())
                in[qsizetype(pick(size_t(in.size())))] ^= char(1 << (rng() % 8));
            break;
        case 1: // a random byte in
            in.insert(qsizetype(pick(size_t(in.size()) + 1)), char(rng() & 0xFF));
            break;
        case 2: // a byte out
            if (!in.isEmpty())
                in.remove(qsizetype(pick(size_t(in.size()))), 1);
            break;
        case 3: { // a protocol character in, where parsers make their choices
            static const char kSpecial[] = "!#:\r\n\t RWLSUIDAZ0F9[]=-\"'\\";
            in.insert(qsizetype(pick(size_t(in.size()) + 1)), kSpecial[pick(sizeof(kSpecial) - 1)]);
            break;
        }
        case 4: // splice with another corpus input
            if (!corpus.empty()) {
                const QByteArray& other = corpus[pick(corpus.size())];
                const qsizetype at = qsizetype(pick(size_t(in.size()) + 1));
                const qsizetype from = qsizetype(pick(size_t(other.size()) + 1));
                in = in.left(at) + other.mid(from);
            }
            break;
        case 5: // duplicate a stretch
            if (!in.isEmpty()) {
                const qsizetype at = qsizetype(pick(size_t(in.size())));
                in.insert(at, in.mid(at, qsizetype(1 + pick(16))));
            }
            break;
        default: // cut the end
            in.truncate(qsizetype(pick(size_t(in.size()) + 1)));
            break;
        }
    }
    if (in.size() > 4096)
        in.truncate(4096);
    return in;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    long runs = 0;
    unsigned seed = 1;
    std::vector<QByteArray> corpus;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith(QLatin1String("-runs="))) {
            runs = arg.mid(6).toLong();
        } else if (arg.startsWith(QLatin1String("-seed="))) {
            seed = arg.mid(6).toUInt();
        } else if (arg.startsWith(QLatin1Char('-'))) {
            continue; // libFuzzer options this runner does not need
        } else if (QFileInfo(arg).isDir()) {
            const QDir dir(arg);
            const auto names = dir.entryList(QDir::Files, QDir::Name);
            for (const QString& name : names) {
                QFile f(dir.filePath(name));
                if (f.open(QIODevice::ReadOnly))
                    corpus.push_back(f.readAll());
            }
        } else {
            QFile f(arg);
            if (!f.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 2;
            }
            corpus.push_back(f.readAll());
        }
    }
    for (const QByteArray& input : corpus)
        runOne(input);
    std::mt19937 rng(seed);
    for (long r = 0; r < runs; ++r) {
        const QByteArray base = corpus.empty() ? QByteArray() : corpus[rng() % corpus.size()];
        runOne(mutate(base, corpus, rng));
    }
    std::printf("%zu corpus inputs and %ld fresh inputs, every property held\n", corpus.size(),
                runs);
    return 0;
}
