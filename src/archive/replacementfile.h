#pragma once

#include "result.h"

#include <QString>
#include <QTemporaryFile>

// A new file beside the target, under a hidden temporary name, that takes
// the target's place only when committed; otherwise it is removed.
class ReplacementFile
{
public:
    explicit ReplacementFile(const QString &target);

    Result open();
    QString path() const { return m_file.fileName(); }
    // Moves the new file over the target in one step.
    Result commit();

private:
    QString m_target;
    QTemporaryFile m_file;
};
