import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// Shown while a load or store runs on its worker thread: blocks input to
// the window, tells the phase and how far it is, and offers Cancel. Asked
// to close meanwhile, it offers to cancel the job and close once it ended.
Popup {
    id: root

    // Set when the user chose to close the window: it closes after the job.
    property bool closeAfterJob: false
    property bool closeAsked: false

    signal jobEndedForClose()

    function askToClose() {
        closeAsked = true
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Theme.jobPopupWidth
    modal: true
    focus: true
    closePolicy: Popup.NoAutoClose
    visible: appState.busy
    onVisibleChanged: {
        if (visible)
            return
        closeAsked = false
        if (closeAfterJob)
            jobEndedForClose()
    }

    Column {
        width: parent.width
        spacing: Theme.spacing

        Text {
            objectName: "jobPhase"
            text: root.closeAfterJob ? "Cancelling before the editor closes\u2026"
                                     : appState.jobPhase + "\u2026"
            font.bold: true
        }

        ProgressBar {
            objectName: "jobProgress"
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
            text: "The editor is still working. Cancel the work and close? Nothing of it is kept."
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
                text: root.closeAsked ? "Cancel and close" : "Cancel"
                focus: true
                onClicked: {
                    if (root.closeAsked)
                        root.closeAfterJob = true
                    appState.cancelJob()
                }
            }
        }
    }
}
