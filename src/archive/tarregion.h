// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

// The header blocks of one tar entry (its extension headers with their data,
// the main header, an old GNU sparse map), held by the stream walker until
// they are all in: what they say about the entry, and how an edit rewrites
// them. Used by tarstream.cpp only.

#include "tarstream.h"

#include <QByteArray>
#include <QString>
#include <QVector>

struct tar_ustarheader;

namespace TarStream {
namespace Detail {

class EntryHeaders
{
public:
    // Splits the raw header region of the entry that starts at `offset` into
    // its parts. False with *error when a pax header is malformed.
    bool parse(const QByteArray &raw, qint64 offset, QString *error);

    // Path, link target, type and size as tar readers take them.
    void describe(EntryInfo *info) const;
    bool isSparse() const;

    // Rewrites the parts that the edit changes. False with *error when the
    // edit does not apply to this entry.
    bool apply(const EntryInfo &info, const EntryEdit &edit, QString *error);

    // The header region as it goes out: unchanged parts exactly as they came.
    QByteArray bytes() const;

    // Where an entry keeps a name: its path, or the target of a hard link.
    struct NameKind
    {
        QByteArray paxKey;
        QByteArray sparseKey; // pax record that overrides paxKey; empty when none
        char longType;        // the GNU long-name entry
        bool linkField;       // the linkname field, else name (and prefix)
    };

private:
    struct Part
    {
        char type = 0;      // 'x', 'g', 'L' or 'K'; 0 for the main header
        int rawAt = -1;     // where its header sits in the raw region; -1 when inserted
        int rawLength = 0;  // header and padded data
        QByteArray header;  // one block
        QByteArray data;    // extension data without padding
        bool changed = false;
    };

    // The value of the last pax record whose key matches; *found says whether there is one.
    QByteArray paxValue(const std::function<bool(const QByteArray &key)> &matches, bool *found) const;
    QByteArray nameOf(const NameKind &kind) const;
    void rename(const NameKind &kind, const QByteArray &from, const QByteArray &to);
    bool renameInPax(const NameKind &kind, const QByteArray &from, const QByteArray &to);
    bool renameInLongNames(const NameKind &kind, const QByteArray &from, const QByteArray &to);
    void addNameHolder(const NameKind &kind, const QByteArray &name);
    void dropLinkTarget();
    void renameOtherNames(bool mainStandsIn, const std::function<QByteArray(const QByteArray &)> &newName);
    void replaceData(quint64 size);
    tar_ustarheader *mainHeader();
    const tar_ustarheader *mainHeader() const;

    QByteArray m_raw;
    QVector<Part> m_parts; // extension headers in order, then the main header
    int m_tailAt = 0;      // the old GNU sparse map blocks after the main header
    bool m_hasPaxSize = false;
    quint64 m_paxSize = 0;
};

} // namespace Detail
} // namespace TarStream
