// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The device labels as their prefs files hold them.
namespace Labels {

constexpr int ksb12LabelSize = 16;

// The label of a KSB12 device: the first 16 bytes of its prefs file, up to
// the first zero byte; UTF-8 when they are valid UTF-8, else ISO 8859-1.
QString readKsb12Label(const QByteArray &prefs);

// The label of a Tando device from its prefs XML file: the value of its first
// UnitName element, or without one, of the root's first element.
QString readTandoLabel(const QByteArray &prefs);

// The first 16 bytes of a KSB12 label file: ISO 8859-1, cut or padded with zeros.
QByteArray ksb12LabelBytes(const QString &label);

} // namespace Labels
