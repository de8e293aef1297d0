// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <signal.h>

// How a program is run; the environment entries are added to the test's own.
struct RunOptions
{
    QStringList environment; // NAME=value
    QByteArray input;        // standard input, closed after it
    QString workDir;
    bool mergeChannels = false; // standard error into out
    int timeoutMs = 120000;

    static RunOptions withEnvironment(const QStringList &assignments)
    {
        RunOptions options;
        options.environment = assignments;
        return options;
    }
};

struct ProcessRun
{
    int code = -1; // the exit code; -1 when it did not start, crashed or timed out
    QByteArray out;
    QByteArray err;

    QString outText() const { return QString::fromUtf8(out); }
    QString errText() const { return QString::fromUtf8(err); }
};

inline void startProcess(QProcess &process, const QString &program, const QStringList &args, const RunOptions &options)
{
    if (!options.environment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &assignment : options.environment)
            env.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        process.setProcessEnvironment(env);
    }
    process.setWorkingDirectory(options.workDir);
    if (options.mergeChannels)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.write(options.input);
    process.closeWriteChannel();
}

// Waits for the end, killing the process when it takes too long, and adds
// what is left of its output to run.
inline void finishProcess(QProcess &process, int timeoutMs, ProcessRun *run)
{
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    run->out += process.readAllStandardOutput();
    run->err += process.readAllStandardError();
    run->code = process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart
                    ? process.exitCode() : -1;
}

inline ProcessRun runProcess(const QString &program, const QStringList &args, const RunOptions &options = {})
{
    QProcess process;
    startProcess(process, program, args, options);
    ProcessRun run;
    finishProcess(process, options.timeoutMs, &run);
    return run;
}

// The standard output of a program that has to succeed; when it does not,
// the test fails, naming the command and its error output.
inline QByteArray outputOf(const QString &program, const QStringList &args, const RunOptions &options = {})
{
    const ProcessRun run = runProcess(program, args, options);
    if (run.code == 0)
        return run.out;
    const QString message = QStringLiteral("%1 %2 exited with %3: ").arg(program, args.join(' ')).arg(run.code);
    QTest::qFail(qPrintable(message + run.errText()), __FILE__, __LINE__);
    return QByteArray("<failed>");
}

#ifdef TANDO_PROJECT_BIN
// The built command-line tool.
inline ProcessRun runTool(const QStringList &args, const RunOptions &options = {})
{
    return runProcess(QStringLiteral(TANDO_PROJECT_BIN), args, options);
}
#endif

// A process the test acts on while it runs: it waits for some output, then
// sends a signal.
class RunningProcess
{
public:
    RunningProcess(const QString &program, const QStringList &args, const RunOptions &options = {})
        : m_timeoutMs(options.timeoutMs)
    {
        startProcess(m_process, program, args, options);
        m_process.waitForStarted();
    }
    ~RunningProcess()
    {
        if (m_process.state() != QProcess::NotRunning)
            finishProcess(m_process, 0, &m_run);
    }
    RunningProcess(const RunningProcess &) = delete;
    RunningProcess &operator=(const RunningProcess &) = delete;

    qint64 pid() const { return m_process.processId(); }

    // Reads output until the channel holds text, the process ends or the time is up.
    bool waitFor(const QByteArray &text, QProcess::ProcessChannel channel, int timeoutMs = 60000)
    {
        const QByteArray &seen = channel == QProcess::StandardOutput ? m_run.out : m_run.err;
        m_process.setReadChannel(channel);
        QElapsedTimer waited;
        waited.start();
        while (!seen.contains(text) && m_process.state() != QProcess::NotRunning && waited.elapsed() < timeoutMs) {
            m_process.waitForReadyRead(100);
            m_run.out += m_process.readAllStandardOutput();
            m_run.err += m_process.readAllStandardError();
        }
        return seen.contains(text);
    }

    bool signal(int number) { return pid() > 0 && ::kill(pid_t(pid()), number) == 0; }

    // Waits for the end: all the output, and the exit code as runProcess gives it.
    ProcessRun finish()
    {
        finishProcess(m_process, m_timeoutMs, &m_run);
        return m_run;
    }

    // What the process wrote so far.
    const ProcessRun &seen() const { return m_run; }

private:
    QProcess m_process;
    int m_timeoutMs;
    ProcessRun m_run;
};
