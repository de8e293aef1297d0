import QtQuick 2.14
import QtQuick.Window 2.14
import QtQuick.Controls 2.14
import QtQuick.Dialogs 1.2
import Norvel 1.0

Window {
    id: window

    // Set once the user has agreed to close with unsaved edits.
    property bool closeDecided: false

    // Runs action now, or once the user has stored or discarded unsaved edits.
    function afterUnsavedEdits(action) {
        if (appState.modified)
            unsavedDialog.ask(action)
        else
            action()
    }

    // Loading replaces a loaded project; a failure that leaves it loaded is
    // reported in the action bar, otherwise on the start screen.
    function openArchive(path) {
        afterUnsavedEdits(function() {
            if (!appState.loadProject(path) && appState.project.loaded)
                showOutcome(false, "Loading failed", appState.lastError)
        })
    }

    // Shows the outcome of a store or load beside the lasting validation message.
    function showOutcome(ok, text, reason) {
        stateAutoHideSign.signtext = ok ? "\u2713" : "!"
        stateAutoHideSign.signcolor = ok ? "green" : "#ba2d25"
        stateAutoHide.text = text
        stateAutoHide.color = ok ? "green" : "#ba2d25"
        stateAutoHideReason.text = reason
        stateAutoHide.visible = true
        // A reason takes longer to read than a success.
        stateAutoHideTimer.interval = ok ? 2000 : 10000
        stateAutoHideTimer.restart()
    }

    // Validates, asks where to store and stores; true once the archive is written.
    function storeProject() {
        if (!appState.validateNewSettings()) {
            actionBarState.text = "Invalid settings detected!"
            actionBarState.color = "#ba2d25"
            return false
        }
        actionBarState.text = ""

        // A cancelled dialog gives an empty path, which the store refuses.
        var outpath = appState.getSavePath()
        var stored = appState.storeCurrentProject(outpath)
        if (stored)
            showOutcome(true, "Successfully saved", "")
        else
            showOutcome(false, "Saving failed", appState.lastError)
        return stored
    }

    visible: true
    // Wide enough for the settings panel beside the whole device table.
    width: 1200
    height: 640
    // Below this the settings panel and the action bar would be cut off; the
    // table scrolls in both directions.
    minimumWidth: 640
    minimumHeight: 400
    title: appState.fileName === "" ? qsTr("Tando Project Editor")
                                    : appState.fileName + (appState.modified ? "*" : "") + " \u2014 " + qsTr("Tando Project Editor")

    onClosing: function(close) {
        // Work in progress is cancelled and cleaned up before the editor ends.
        if (appState.busy) {
            close.accepted = false
            jobOverlay.askToClose()
            return
        }
        if (!appState.modified || closeDecided)
            return
        close.accepted = false
        unsavedDialog.ask(function() {
            closeDecided = true
            window.close()
        })
    }

    // The one controller of the program; ProjectSetting and DeviceList reach it by this id.
    AppState {
        id: appState
    }

    Item {
        id: projectScreen
        anchors.fill: parent
        visible: appState.project.loaded
        // A hidden screen's controls can neither hold the focus nor be triggered.
        enabled: visible

        ProjectSetting {
            id: projectSetting
            tabOut: deviceList.focusFirst
            anchors.top: parent.top
            anchors.bottom: actionBar.top
            anchors.left: parent.left
            width: 300
        }

        DeviceList {
            id: deviceList
            tabAfter: unloadButton
            tabBefore: projectSetting.lastField
            anchors.top: projectSetting.top
            anchors.left: projectSetting.right
            anchors.right: parent.right
            anchors.bottom: projectSetting.bottom
            anchors.leftMargin: 10
        }

        Rectangle {
            id: actionBar
            height: 60
            color: "white"
            anchors.bottom: parent.bottom
            anchors.left: parent.left
            anchors.right: parent.right

            Rectangle {
                id: actionBarLine
                color: "#064BC0"
                height: 3
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.right: parent.right
            }

            // Left: the lasting validation message, then the outcome of the last store.
            Row {
                id: actionBarState

                property alias text: desc.text
                property alias color: desc.color

                padding: 10
                spacing: 10
                anchors.left: parent.left

                WarningSign {
                    id: sign
                    visible: desc.text !== ""
                }

                Text {
                    id: desc
                    font.bold: true
                    anchors.verticalCenter: parent.verticalCenter
                }

                WarningSign {
                    id: stateAutoHideSign
                    visible: stateAutoHide.visible
                }

                Text {
                    id: stateAutoHide
                    text: ""
                    visible: false
                    anchors.verticalCenter: parent.verticalCenter
                    font.bold: true

                    Timer {
                        id: stateAutoHideTimer
                        interval: 2000
                        running: false
                        repeat: false
                        onTriggered: stateAutoHide.visible = false
                    }
                }

                // Why the last store or load failed, cut to the room beside the buttons.
                Text {
                    id: stateAutoHideReason
                    visible: stateAutoHide.visible && text !== ""
                    width: Math.min(implicitWidth, Math.max(0, actionBar.width - actionButtons.width - x - 10))
                    elide: Text.ElideRight
                    color: stateAutoHide.color
                    anchors.verticalCenter: parent.verticalCenter
                }
            }

            Row {
                id: actionButtons
                padding: 10
                spacing: 10
                anchors.right: parent.right

                AppButton {
                    id: unloadButton
                    text: "Unload Project"
                    onClicked: afterUnsavedEdits(function() { appState.unloadProject() })
                }

                AppButton {
                    text: "Store Project"
                    onClicked: storeProject()
                }
            }
        }
    }

    Item {
        id: startScreen
        anchors.fill: parent
        visible: !appState.project.loaded
        enabled: visible

        Text {
            id: startText
            text: "No Project loaded so far. Drag and Drop a Project File to start\n\n or"
            horizontalAlignment: Text.AlignHCenter
            bottomPadding: 20
            anchors.centerIn: parent
        }

        AppButton {
            id: chooseButton
            text: "Choose file"
            anchors.top: startText.bottom
            anchors.horizontalCenter: startText.horizontalCenter
            onClicked: fileDialog.setVisible(true)
        }

        // Why the last load failed.
        Text {
            id: loadError
            text: appState.lastError
            visible: text !== ""
            color: "#ba2d25"
            font.bold: true
            width: Math.min(implicitWidth, startScreen.width - 40)
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            anchors.top: chooseButton.bottom
            anchors.topMargin: 20
            anchors.horizontalCenter: startText.horizontalCenter
        }

        FileDialog {
            id: fileDialog
            visible: false
            title: "Please choose a file"
            folder: shortcuts.home
            nameFilters: ["Tando Projectfiles (*.tgz)"]
            selectMultiple: false
            onAccepted: {
                console.log("You chose: " + fileDialog.fileUrls)
                openArchive(fileDialog.fileUrl)
            }
            // A cancelled choice leaves a loaded project as it is.
            onRejected: console.log("Canceled")
        }
    }

    Shortcut {
        sequence: StandardKey.Open
        enabled: !appState.busy
        onActivated: fileDialog.setVisible(true)
    }

    Shortcut {
        sequence: StandardKey.Save
        enabled: appState.project.loaded && !appState.busy
        onActivated: storeProject()
    }

    UnsavedDialog {
        id: unsavedDialog
        onStoreChosen: if (storeProject()) proceed()
    }

    JobOverlay {
        id: jobOverlay
        onJobEndedForClose: {
            // The user chose to lose the edits along with the work.
            closeDecided = true
            window.close()
        }
    }

    // Above both screens: a project archive can be dropped at any time.
    DropArea {
        id: dropOverlay

        property string droppedFile: ""
        property string filename: ""

        function basename(str) {
            return str.substring(str.lastIndexOf("/") + 1)
        }

        anchors.fill: parent
        enabled: !appState.busy

        onEntered: function(e) {
            if (e.hasUrls && e.urls.length === 1 && String(e.urls[0]).endsWith(".tgz")) {
                dropOverlay.filename = basename(String(e.urls[0]))
                hoverIndicator.droppable = true
            } else {
                hoverIndicator.droppable = false
            }
            hoverIndicator.visible = true
        }

        onExited: hoverIndicator.visible = false

        onDropped: function(e) {
            if (!(e.hasUrls && e.urls.length === 1 && String(e.urls[0]).endsWith(".tgz"))) {
                hoverIndicator.visible = false
                return
            }
            // "file://" rather than "file:///": a local path keeps its leading "/";
            // escapes such as %20 and %23 go back to the characters of the name.
            var url = String(e.urls[0])
            dropOverlay.droppedFile = url.indexOf("file://") === 0 ? decodeURIComponent(url.replace("file://", "")) : url
            hoverIndicator.visible = false
            openArchive(dropOverlay.droppedFile)
        }

        Rectangle {
            id: hoverIndicator

            property bool droppable: true

            anchors.fill: parent
            visible: false
            color: droppable ? "#064BC0" : "red"

            Text {
                text: hoverIndicator.droppable ? "Drop to load " + dropOverlay.filename : "Please drop a single .tgz file"
                horizontalAlignment: Text.AlignHCenter
                color: "white"
                font.bold: true
                anchors.centerIn: parent
            }
        }
    }
}
