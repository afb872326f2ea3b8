#pragma once

#include <QObject>
#include <functional>

// Test classes register themselves; the shared main() of testsupport runs each of them.
namespace testregistry {
using Factory = std::function<QObject*()>;
bool add(const char* name, Factory factory);
int runAll(int argc, char** argv);
} // namespace testregistry

#define ORVANE_TEST(Class)                                                                                             \
    static const bool orvane_registered_##Class = testregistry::add(#Class, [] { return new Class; });
