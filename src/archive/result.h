// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The outcome of a core operation: ok, failed with a reason a person can
// read, or cancelled (by the user or a termination signal). The command-line
// tool prints the reason, the window shows it; a cancel is no failure and
// has no reason to show.
class Result
{
public:
    enum class Kind { Ok, Failed, Cancelled };

    Result() = default;
    static Result success() { return Result(); }
    static Result failure(const QString &reason)
    {
        Result r;
        r.m_kind = Kind::Failed;
        r.m_reason = reason.isEmpty() ? QStringLiteral("unknown error") : reason;
        return r;
    }
    static Result cancelled()
    {
        Result r;
        r.m_kind = Kind::Cancelled;
        return r;
    }

    Kind kind() const { return m_kind; }
    bool ok() const { return m_kind == Kind::Ok; }
    bool isFailure() const { return m_kind == Kind::Failed; }
    bool isCancelled() const { return m_kind == Kind::Cancelled; }
    explicit operator bool() const { return ok(); }
    // Why it failed; "cancelled" for a cancel, for logs and the tool; empty when ok.
    QString reason() const { return isCancelled() ? QStringLiteral("cancelled") : m_reason; }

private:
    Kind m_kind = Kind::Ok;
    QString m_reason;
};
