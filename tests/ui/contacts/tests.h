#pragma once
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

using test_factory = std::function<std::unique_ptr<QObject>()>;
std::vector<test_factory>& all_tests();

// Registers a test class at start-up.
template <class T>
struct register_test {
    register_test() {
        all_tests().push_back([] { return std::unique_ptr<QObject>(new T); });
    }
};
