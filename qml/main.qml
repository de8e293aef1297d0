import QtQuick 2.14
import QtQuick.Window 2.14
import QtQuick.Controls 2.14
import QtQuick.Dialogs 1.2
import Norvel 1.0

Window {
    visible: true
    width: 800
    height: 480
    title: qsTr("Tando Project Editor")

    // The one controller of the program; ProjectSetting and DeviceList reach it by this id.
    AppState {
        id: appState
    }

    Item {
        id: projectScreen
        anchors.fill: parent
        visible: appState.project.loaded

        ProjectSetting {
            id: projectSetting
            anchors.top: parent.top
            anchors.bottom: actionBar.top
            anchors.left: parent.left
            width: 300
        }

        DeviceList {
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
            }

            Row {
                padding: 10
                spacing: 10
                anchors.right: parent.right

                AppButton {
                    text: "Unload Project"
                    onClicked: appState.unloadProject()
                }

                AppButton {
                    text: "Store Project"
                    onClicked: {
                        if (!appState.validateNewSettings()) {
                            actionBarState.text = "Invalid settings detected!"
                            actionBarState.color = "#ba2d25"
                            return
                        }
                        actionBarState.text = ""

                        // A cancelled dialog gives an empty path, which the store refuses.
                        var outpath = appState.getSavePath()
                        if (appState.storeCurrentProject(outpath)) {
                            stateAutoHideSign.signtext = "\u2713"
                            stateAutoHideSign.signcolor = "green"
                            stateAutoHide.text = "Successfully saved"
                            stateAutoHide.color = "green"
                        } else {
                            stateAutoHideSign.signtext = "!"
                            stateAutoHideSign.signcolor = "#ba2d25"
                            stateAutoHide.text = "Saving failed"
                            stateAutoHide.color = "#ba2d25"
                        }
                        stateAutoHide.visible = true
                        stateAutoHideTimer.restart()
                    }
                }
            }
        }
    }

    Item {
        id: startScreen
        anchors.fill: parent
        visible: !appState.project.loaded

        Text {
            id: startText
            text: "No Project loaded so far. Drag and Drop a Project File to start\n\n or"
            horizontalAlignment: Text.AlignHCenter
            bottomPadding: 20
            anchors.centerIn: parent
        }

        AppButton {
            text: "Choose file"
            anchors.top: startText.bottom
            anchors.horizontalCenter: startText.horizontalCenter
            onClicked: fileDialog.setVisible(true)
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
                appState.loadProject(fileDialog.fileUrl)
            }
            onRejected: {
                console.log("Canceled")
                appState.unloadProject()
            }
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
            if (appState.project.loaded)
                appState.unloadProject()
            appState.loadProject(dropOverlay.droppedFile)
            hoverIndicator.visible = false
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
