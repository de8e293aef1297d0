// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Window 2.14
import QtQuick.Controls 2.14
import QtQuick.Dialogs 1.2
import Norvel 1.0

Window {
    id: window

    // Colours and fixed sizes are in Theme; what follows the window stays here.
    // Long enough to read the stored file's name.
    readonly property int successShownMs: 4000
    // The most a dialog's list of problems takes before it scrolls.
    readonly property size problemListSize: Qt.size(width * 0.8, height * 0.5)

    // Set once the user has agreed to close with unsaved edits.
    property bool closeDecided: false
    // The item that had the keyboard before a dialog opened.
    property Item focusBeforeDialog: null
    // The item that had the keyboard last, also while another window (a
    // file dialog) has it.
    property Item lastFocused: null

    // The preferred size, no larger than a share of the room given (0: not known).
    function fittedSize(availableWidth, availableHeight) {
        function fit(preferred, available) {
            return available > 0 ? Math.min(preferred, Math.floor(available * Theme.largestScreenShare)) : preferred
        }
        return Qt.size(fit(Theme.preferredWindowSize.width, availableWidth),
                       fit(Theme.preferredWindowSize.height, availableHeight))
    }

    function rememberFocus() {
        focusBeforeDialog = activeFocusItem || lastFocused
    }

    // Gives the keyboard back after a dialog, unless its action gave it to another item.
    function returnFocus() {
        var item = focusBeforeDialog
        focusBeforeDialog = null
        if (item && item.visible && (activeFocusItem === null || activeFocusItem === contentItem))
            item.forceActiveFocus(Qt.OtherFocusReason)
    }

    // A single project archive, by its name in any letter case.
    function isArchiveUrl(url) {
        return appState.isArchiveName(String(url))
    }

    // Runs action now, or once the user has stored or discarded unsaved edits.
    function afterUnsavedEdits(action) {
        if (appState.modified)
            unsavedDialog.ask(action)
        else
            action()
    }

    // Only a project that loaded completely replaces the loaded one. While
    // one stays loaded, the action bar tells how the load ended; otherwise
    // the start screen does.
    function openArchive(path) {
        afterUnsavedEdits(function() {
            outcome.hide()
            if (!appState.loadProject(path) && appState.project.loaded)
                showOutcome("Loading failed")
        })
    }

    // Shows how the last load or store ended, beside the lasting validation message.
    function showOutcome(failureText) {
        switch (appState.lastOutcome) {
        case AppState.Succeeded:
            outcome.show("success", "Successfully saved", appState.storedFileName)
            break
        case AppState.Failed:
            outcome.show("failure", failureText, appState.lastError)
            break
        case AppState.Cancelled:
            outcome.show("cancel", "Cancelled", "")
            break
        }
    }

    // Validates, asks where to store and stores; true once the archive is
    // written. A cancelled dialog goes back to the project without a word.
    function storeProject() {
        outcome.hide()
        if (!appState.validateNewSettings())
            return false

        var outpath = appState.getSavePath()
        if (outpath === "")
            return false
        var stored = appState.storeCurrentProject(outpath)
        showOutcome("Saving failed")
        return stored
    }

    // Asks where to write the device list and writes it, with the edits.
    function exportDeviceList() {
        outcome.hide()
        var path = appState.getExportPath()
        if (path === "")
            return
        var reason = appState.exportDeviceList(path)
        if (reason === "")
            outcome.show("success", "Successfully exported", dropOverlay.basename(path))
        else
            outcome.show("failure", "Exporting failed", reason)
    }

    // Asks for a changes file and applies it whole, or tells why not.
    function applyChanges() {
        outcome.hide()
        var path = appState.getChangesPath()
        if (path === "")
            return
        var problems = appState.applyChangesFile(path)
        if (problems.length > 0)
            problemsDialog.show(problems)
    }

    function unloadProject() {
        afterUnsavedEdits(function() {
            outcome.hide()
            appState.unloadProject()
        })
    }

    function revertAllEdits() {
        outcome.hide()
        appState.revertAllEdits()
        projectSetting.showFromStart()
        // The control that was clicked is gone with the edits.
        projectSetting.focusName()
    }

    visible: true
    width: fittedSize(Math.min(Screen.desktopAvailableWidth, Screen.width), 0).width
    height: fittedSize(0, Math.min(Screen.desktopAvailableHeight, Screen.height)).height
    // Below this the settings panel and the action bar would be cut off; the
    // table scrolls in both directions.
    minimumWidth: Theme.minimumWindowSize.width
    minimumHeight: Theme.minimumWindowSize.height
    onActiveFocusItemChanged: if (activeFocusItem) lastFocused = activeFocusItem
    // After a store to another file, where the edits now are.
    title: appState.fileName === "" ? qsTr("Tando Project Editor")
                                    : appState.fileName + (appState.modified ? "*" : "")
                                      + (appState.storedElsewhere === "" ? "" : " \u2014 stored as " + appState.storedElsewhere)
                                      + " \u2014 " + qsTr("Tando Project Editor")

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
        onProjectLoaded: {
            projectSetting.showFromStart()
            // The new project starts on Name, whatever had the keyboard before the load.
            focusBeforeDialog = null
            projectSetting.focusName()
        }
        onChangesApplied: function(fileName, devices) {
            var count = devices + (devices === 1 ? " device" : " devices")
            outcome.show("success", "Changes applied", fileName + ": " + count)
        }
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
            width: Theme.settingsWidth
        }

        DeviceList {
            id: deviceList
            tabAfter: revertButton.visible ? revertButton : unloadButton
            tabBefore: projectSetting.lastField
            anchors.top: projectSetting.top
            anchors.left: projectSetting.right
            anchors.right: parent.right
            anchors.bottom: projectSetting.bottom
            anchors.leftMargin: Theme.spacing
        }

        Rectangle {
            id: actionBar

            // What the buttons take on one line.
            readonly property real buttonsWidth: {
                var shown = 0
                var sum = actionButtons.leftPadding + actionButtons.rightPadding
                for (var i = 0; i < actionButtons.children.length; ++i) {
                    var button = actionButtons.children[i]
                    if (button.visible) {
                        sum += button.implicitWidth
                        ++shown
                    }
                }
                return sum + Math.max(0, shown - 1) * actionButtons.spacing
            }
            // With too little room beside the buttons, the messages get a line
            // of their own above them.
            readonly property bool stacked: buttonsWidth + Theme.actionBarMessageRoom > width
            // A failure's reason may take more than one line.
            readonly property real messageHeight: Math.max(Theme.actionBarHeight, actionBarState.height)

            height: stacked ? messageHeight + actionButtons.height : Math.max(messageHeight, actionButtons.height)
            color: Theme.background
            anchors.bottom: parent.bottom
            anchors.left: parent.left
            anchors.right: parent.right

            Rectangle {
                id: actionBarLine
                color: Theme.accent
                height: Theme.ruleWidth
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.right: parent.right
            }

            // Left: the lasting validation message, then the outcome of the last store.
            Row {
                id: actionBarState

                padding: Theme.spacing
                spacing: Theme.spacing
                anchors.left: parent.left

                WarningSign {
                    id: sign
                    visible: desc.text !== ""
                }

                // As long as the new MACs the last check refused are not all put right.
                Text {
                    id: desc
                    readonly property int devices: appState.invalidDeviceCount
                    text: devices > 0 ? "Invalid settings detected!" : ""
                    color: Theme.danger
                    font.bold: true
                    anchors.verticalCenter: parent.verticalCenter
                }

                Text {
                    text: desc.devices === 1 ? "(1 device)" : "(" + desc.devices + " devices)"
                    visible: desc.devices > 0
                    color: Theme.danger
                    anchors.verticalCenter: parent.verticalCenter
                }

                OutcomeMessage {
                    id: outcome
                    // Up to the buttons, or the whole line above them.
                    readonly property real end: actionBar.stacked ? actionBar.width : actionButtons.x
                    maximumWidth: Math.max(0, end - actionBarState.x - x - Theme.spacing)
                    successShownMs: window.successShownMs
                    anchors.verticalCenter: parent.verticalCenter
                }
            }

            // At the right on one line; in a narrow window below the
            // messages, on as many lines as it takes.
            Flow {
                id: actionButtons
                padding: Theme.spacing
                spacing: Theme.spacing
                anchors.right: parent.right
                y: actionBar.stacked ? actionBar.messageHeight : 0
                width: Math.min(actionBar.buttonsWidth, actionBar.width)

                AppButton {
                    id: revertButton
                    text: "Revert all edits"
                    visible: appState.hasEdits
                    onClicked: revertAllEdits()
                }

                AppButton {
                    id: unloadButton
                    text: "Unload Project"
                    onClicked: unloadProject()
                }

                AppButton {
                    text: "Apply changes\u2026"
                    onClicked: applyChanges()
                }

                AppButton {
                    text: "Export list\u2026"
                    onClicked: exportDeviceList()
                }

                AppButton {
                    text: "Store Project"
                    onClicked: storeProject()
                }

                AppButton {
                    text: "About"
                    onClicked: aboutDialog.open()
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
            bottomPadding: Theme.largeSpacing
            anchors.centerIn: parent
        }

        AppButton {
            id: chooseButton
            text: "Choose file"
            anchors.top: startText.bottom
            anchors.horizontalCenter: startText.horizontalCenter
            onClicked: fileDialog.setVisible(true)
        }

        // Why the last load failed, or that it was cancelled.
        Text {
            id: loadError
            readonly property bool cancelled: appState.lastOutcome === AppState.Cancelled
            text: cancelled ? "Cancelled" : appState.lastError
            visible: text !== ""
            color: cancelled ? Theme.mutedText : Theme.danger
            font.bold: true
            width: Math.min(implicitWidth, startScreen.width - 2 * Theme.largeSpacing)
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            anchors.top: chooseButton.bottom
            anchors.topMargin: Theme.largeSpacing
            anchors.horizontalCenter: startText.horizontalCenter
        }

        FileDialog {
            id: fileDialog
            visible: false
            title: "Please choose a file"
            folder: shortcuts.home
            nameFilters: ["Tando Projectfiles (*.tgz)", "Project archives (*.tgz *.tar.gz *.tar)", "All files (*)"]
            selectedNameFilter: nameFilters[0]
            selectMultiple: false
            // Without a window manager nobody hands the keyboard back to the window.
            onAccepted: {
                console.log("You chose: " + fileDialog.fileUrls)
                window.requestActivate()
                openArchive(fileDialog.fileUrl)
            }
            // A cancelled choice leaves a loaded project as it is.
            onRejected: {
                console.log("Canceled")
                window.requestActivate()
            }
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

    Shortcut {
        sequence: "Ctrl+W"
        enabled: appState.project.loaded && !appState.busy
        onActivated: unloadProject()
    }

    Shortcut {
        sequences: [StandardKey.Undo]
        enabled: appState.project.loaded && appState.history.canUndo && !appState.busy
        onActivated: appState.undo()
    }

    Shortcut {
        sequences: [StandardKey.Redo, "Ctrl+Shift+Z", "Ctrl+Y"]
        enabled: appState.project.loaded && appState.history.canRedo && !appState.busy
        onActivated: appState.redo()
    }

    // Closing asks about unsaved edits, and about running work, first.
    Shortcut {
        sequence: "Ctrl+Q"
        onActivated: window.close()
    }

    Shortcut {
        sequence: "F1"
        onActivated: aboutDialog.open()
    }

    UnsavedDialog {
        id: unsavedDialog
        onAboutToShow: rememberFocus()
        onClosed: returnFocus()
        onStoreChosen: if (storeProject()) proceed()
    }

    ProblemsDialog {
        id: problemsDialog
        maximumListSize: problemListSize
        onAboutToShow: rememberFocus()
        onClosed: returnFocus()
    }

    AboutDialog {
        id: aboutDialog
        onAboutToShow: rememberFocus()
        onClosed: returnFocus()
    }

    JobOverlay {
        id: jobOverlay
        onAboutToShow: rememberFocus()
        onClosed: returnFocus()
        // Unsaved edits are asked about as at any close.
        onJobEndedForClose: window.close()
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
            // Text is for the fields below, a MAC dropped on a New MAC field.
            if (!e.hasUrls) {
                e.accepted = false
                return
            }
            if (e.urls.length === 1 && isArchiveUrl(e.urls[0])) {
                dropOverlay.filename = basename(appState.localPath(String(e.urls[0])))
                hoverIndicator.droppable = true
            } else {
                hoverIndicator.droppable = false
            }
            hoverIndicator.visible = true
        }

        onExited: hoverIndicator.visible = false

        onDropped: function(e) {
            if (!(e.hasUrls && e.urls.length === 1 && isArchiveUrl(e.urls[0]))) {
                hoverIndicator.visible = false
                return
            }
            dropOverlay.droppedFile = appState.localPath(String(e.urls[0]))
            hoverIndicator.visible = false
            openArchive(dropOverlay.droppedFile)
        }

        Rectangle {
            id: hoverIndicator

            property bool droppable: true

            anchors.fill: parent
            visible: false
            color: droppable ? Theme.accent : Theme.refusedDrop

            Text {
                text: hoverIndicator.droppable ? "Drop to load " + dropOverlay.filename : "Please drop a single project archive (.tgz or .tar)"
                horizontalAlignment: Text.AlignHCenter
                color: Theme.textOnFill
                font.bold: true
                anchors.centerIn: parent
            }
        }
    }
}
