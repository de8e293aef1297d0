// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Window 2.14
import Norvel 1.0

// Prints what the editor's start-up set, then closes like a user would.
Window {
    id: window
    visible: true
    width: 100
    height: 100
    AppState { id: appState }
    Text { id: plain; text: "x" }
    Timer {
        running: true
        interval: 0
        onTriggered: {
            console.info("name=" + Qt.application.name)
            console.info("version=" + Qt.application.version)
            console.info("font=" + plain.font.family + "/" + plain.font.pointSize)
            console.info("project=" + (appState.project !== null) + "/" + appState.project.loaded)
            window.close()
        }
    }
}
