#include "detection/ax_signature_hasher.h"

#include <QHashFunctions>
#include <QRandomGenerator>

namespace {

size_t processSeed() {
    static const size_t seed = static_cast<size_t>(QRandomGenerator::system()->generate64());
    return seed;
}

// Tags keep a text apart from a number with the same hash, and the length keeps ("ab", "c")
// apart from ("a", "bc").
constexpr int textTag = 1;
constexpr int numberTag = 2;

}  // namespace

AXSignatureHasher::AXSignatureHasher() : state_(processSeed()) {}

void AXSignatureHasher::feed(const QString& text) { state_ = qHashMulti(state_, textTag, text.size(), text); }

void AXSignatureHasher::feed(int64_t number) { state_ = qHashMulti(state_, numberTag, static_cast<qint64>(number)); }
