import QtQuick 2.0
import QtQuick.Layouts 1.12
import QtQuick.Controls 2.14

// One row per device of the open project: what the archive holds, the new
// label and the new MAC suffix, and a badge with the row's validation issue.
// Only the last three bytes of a MAC are editable: a replaced device keeps
// its vendor prefix.
Item {
    id: root

    property int indexWidth: 20
    property int typeWidth: 100
    property int labelWidth: 120
    property int textFieldWidth: 200
    property int issueFieldWidth: 20
    property int rowHeight: 50
    property int cellSpacing: 10
    property var titles: ["#", "Type", "Label", "MAC", "New Label", "New MAC", ""]
    property var widths: [indexWidth, typeWidth, labelWidth, labelWidth, textFieldWidth, textFieldWidth, issueFieldWidth]

    Row {
        id: heading
        height: root.rowHeight
        spacing: root.cellSpacing
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top

        Repeater {
            model: root.titles

            Text {
                text: modelData
                width: root.widths[index]
                height: root.rowHeight
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                font.bold: true
            }
        }
    }

    Rectangle {
        id: tableHeaderLine
        color: "#064BC0"
        height: 3
        anchors.bottom: heading.bottom
        anchors.left: heading.left
        anchors.right: heading.right
    }

    ScrollView {
        id: grid
        topPadding: 10
        anchors.top: tableHeaderLine.bottom
        anchors.left: tableHeaderLine.left
        anchors.right: tableHeaderLine.right
        anchors.bottom: parent.bottom
        clip: true

        Column {
            Repeater {
                model: appState.project.devices

                Row {
                    height: root.rowHeight
                    spacing: root.cellSpacing

                    Text {
                        text: index + 1
                        width: root.indexWidth
                        height: parent.height
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }

                    Text {
                        text: modelData.deviceType
                        width: root.typeWidth
                        height: parent.height
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }

                    Text {
                        text: modelData.oldLabel
                        width: root.labelWidth
                        height: parent.height
                        verticalAlignment: Text.AlignVCenter
                    }

                    Text {
                        text: modelData.oldMac.replace(/_/g, ":")
                        width: root.labelWidth
                        height: parent.height
                        verticalAlignment: Text.AlignVCenter
                    }

                    TextField {
                        text: modelData.newLabel
                        width: root.textFieldWidth
                        verticalAlignment: Text.AlignVCenter
                        maximumLength: 16
                        validator: RegExpValidator {
                            regExp: /[0-9A-Za-z ]+/
                        }
                        selectByMouse: true
                        onTextChanged: modelData.setNewLabel(text)
                    }

                    Item {
                        width: root.textFieldWidth
                        height: root.rowHeight

                        // The mask keeps three bytes, so this shows the vendor prefix only.
                        TextField {
                            id: fixedMac
                            enabled: false
                            text: modelData.newMac
                            width: 75
                            inputMask: "HH:HH:HH;_"
                            verticalAlignment: Text.AlignVCenter
                        }

                        TextField {
                            anchors.left: fixedMac.right
                            width: root.textFieldWidth - fixedMac.width
                            text: modelData.newMac.substr(9)
                            inputMask: "HH:HH:HH;_"
                            selectByMouse: true
                            verticalAlignment: Text.AlignVCenter
                            onTextChanged: modelData.setNewMac(modelData.newMac.substr(0, 9) + text)
                        }
                    }

                    WarningSign {
                        visible: modelData.issue !== ""
                        text: modelData.issue
                        width: 20
                        height: 20
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
            }
        }
    }
}
