import QtQuick 2.14
import QtQuick.Window 2.14
import Norvel 1.0

Window {
    visible: true
    width: 800
    height: 480
    title: qsTr("Tando Project Editor")

    AppState {
        id: appState
    }
}
