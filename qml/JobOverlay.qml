// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// Shown while a load or store runs on its worker thread: blocks input to
// the window, tells the phase and how far it is, and offers Cancel. Asked
// to close meanwhile, it offers to cancel the job and close once it ended;
// a job that ends while that question is open leaves it open, without the
// dimming, so that the job's outcome can be read behind it.
Popup {
    id: root

    // Set when the user chose to close the window: it closes after the job.
    property bool closeAfterJob: false
    // The user asked to close the window and has not answered yet.
    property bool closeAsked: false

    // The user chose to close, and no job runs any more.
    signal jobEndedForClose()

    function askToClose() {
        closeAsked = true
    }

    function closeChosen() {
        closeAsked = false
        closeAfterJob = false
        jobEndedForClose()
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Theme.jobPopupWidth
    modal: true
    dim: appState.busy
    focus: true
    closePolicy: Popup.NoAutoClose
    visible: appState.busy || closeAsked

    Connections {
        target: appState
        function onBusyChanged() {
            if (!appState.busy && root.closeAfterJob)
                root.closeChosen()
        }
    }

    Column {
        width: parent.width
        spacing: Theme.spacing

        Text {
            objectName: "jobPhase"
            text: !appState.busy ? "The work has ended."
                                 : root.closeAfterJob ? "Cancelling before the editor closes\u2026"
                                                      : appState.jobPhase + "\u2026"
            font.bold: true
        }

        ProgressBar {
            objectName: "jobProgress"
            visible: appState.busy
            width: parent.width
            from: 0
            to: 1
            indeterminate: appState.jobProgress < 0
            value: Math.max(0, appState.jobProgress)
        }

        Text {
            visible: root.closeAsked && !root.closeAfterJob
            width: parent.width
            wrapMode: Text.WordWrap
            text: appState.busy ? "The editor is still working. Cancel the work and close? Nothing of it is kept."
                                : "Close the editor?"
        }

        Row {
            spacing: Theme.smallSpacing
            anchors.right: parent.right

            AppButton {
                objectName: "keepWorking"
                visible: root.closeAsked && !root.closeAfterJob
                text: "Keep working"
                onClicked: root.closeAsked = false
            }

            AppButton {
                id: cancelButton
                objectName: "cancelJob"
                enabled: !root.closeAfterJob
                text: !root.closeAsked ? "Cancel" : appState.busy ? "Cancel and close" : "Close"
                focus: true
                onClicked: {
                    if (!appState.busy) {
                        root.closeChosen()
                        return
                    }
                    if (root.closeAsked)
                        root.closeAfterJob = true
                    appState.cancelJob()
                }
            }
        }
    }
}
