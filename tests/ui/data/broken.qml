// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Window 2.14
import Norvel 1.0

Window {
    visible: true
    NoSuchType {}
}
