// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// The project's name, author and description. Each field is bound to the
// record and writes every change back, so a text cut by the field's length
// limit reaches the record too.
Rectangle {
    id: panel

    // The last field, and what Tab does there (the table's rows come next).
    readonly property Item lastField: settingDescription.field
    property var tabOut: null

    function focusName() {
        settingName.field.forceActiveFocus(Qt.OtherFocusReason)
    }

    // A value longer than its field shows its beginning, as it is read.
    function showFromStart() {
        settingName.showFromStart()
        settingAuthor.showFromStart()
        settingDescription.showFromStart()
    }

    // A setting's revert entry: the value as loaded comes back. `key` names
    // the setting in the project and in appState.loadedSettings.
    FieldMenu {
        id: settingMenu
        property ProjectSettingValue setting: null
        property string key: ""

        MenuItem {
            text: settingMenu.setting ? "Revert " + settingMenu.setting.label.toLowerCase() : ""
            enabled: settingMenu.setting !== null && settingMenu.setting.changed
            onTriggered: appState.project[settingMenu.key] = appState.loadedSettings[settingMenu.key]
        }
    }

    function openMenu(setting, key, fromKeyboard) {
        settingMenu.setting = setting
        settingMenu.key = key
        settingMenu.openFor(setting.field, fromKeyboard)
    }

    Text {
        id: heading
        text: "Project Setting"
        width: parent.width
        horizontalAlignment: Text.AlignHCenter
        height: Theme.headingHeight
        verticalAlignment: Text.AlignVCenter
        font.bold: true
    }

    Rectangle {
        id: tableHeaderLine
        color: Theme.accent
        height: Theme.ruleWidth
        anchors.bottom: heading.bottom
        anchors.left: heading.left
        anchors.right: heading.right
    }

    // Scrolls when the window is too low for the three fields.
    Flickable {
        id: fields
        anchors.top: tableHeaderLine.bottom
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        contentHeight: settingColumn.height
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        ScrollBar.vertical: AppScrollBar {
            policy: fields.height > 0 && fields.contentHeight > fields.height ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
        }

        Column {
            id: settingColumn
            topPadding: Theme.spacing

            ProjectSettingValue {
                id: settingName
                label: "Name"
                value: appState.project.name
                changed: appState.project.loaded && value !== appState.loadedSettings.name
                onValueChanged: appState.project.setName(value)
                onMenuAsked: panel.openMenu(settingName, "name", fromKeyboard)
            }

            ProjectSettingValue {
                id: settingAuthor
                label: "Author"
                value: appState.project.author
                changed: appState.project.loaded && value !== appState.loadedSettings.author
                onValueChanged: appState.project.setAuthor(value)
                onMenuAsked: panel.openMenu(settingAuthor, "author", fromKeyboard)
            }

            ProjectSettingValue {
                id: settingDescription
                label: "Description"
                value: appState.project.description
                changed: appState.project.loaded && value !== appState.loadedSettings.description
                tabOut: panel.tabOut
                onValueChanged: appState.project.setDescription(value)
                onMenuAsked: panel.openMenu(settingDescription, "description", fromKeyboard)
            }
        }
    }
}
