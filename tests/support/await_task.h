#pragma once

#include <QEventLoop>

#include <QCoro/QCoroTask>

#include <optional>

namespace zapum::test {

// Runs a task to completion on a local event loop and returns its value. QCoro::waitFor needs a
// default-constructible result, which Result<T> deliberately is not.
template <typename T>
T awaitTask(QCoro::Task<T> task)
{
    std::optional<T> result;
    QEventLoop loop;
    QCoro::connect(std::move(task), &loop, [&](T &&value) {
        result.emplace(std::move(value));
        loop.quit();
    });
    if (!result)
        loop.exec();
    return std::move(*result);
}

// Tasks without a result have no such trouble.
inline void awaitTask(QCoro::Task<void> task)
{
    QCoro::waitFor(std::move(task));
}

}  // namespace zapum::test
