#pragma once

#include <QString>

#include <cstdint>

// Mixes texts and numbers, in the order fed, into one value. The seed is drawn once per process
// run, so equal walks in one run hash equally but values mean nothing across runs and are never
// stored.
class AXSignatureHasher {
public:
    AXSignatureHasher();

    void feed(const QString& text);
    void feed(int64_t number);
    int64_t finalize() const { return static_cast<int64_t>(state_); }

private:
    size_t state_;
};
