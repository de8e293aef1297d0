#pragma once

#include <QString>

// The outcome of a core operation: ok, or a reason a person can read. The
// command-line tool prints the reason, the window shows it.
class Result
{
public:
    Result() = default;
    static Result success() { return Result(); }
    static Result failure(const QString &reason)
    {
        Result r;
        r.m_reason = reason.isEmpty() ? QStringLiteral("unknown error") : reason;
        return r;
    }

    bool ok() const { return m_reason.isEmpty(); }
    explicit operator bool() const { return ok(); }
    QString reason() const { return m_reason; }

private:
    QString m_reason;
};
