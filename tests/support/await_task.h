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

// The same for tasks that only need to finish.
inline void awaitTask(QCoro::Task<void> task)
{
    bool done = false;
    QEventLoop loop;
    QCoro::connect(std::move(task), &loop, [&] {
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
}

}  // namespace zapum::test
