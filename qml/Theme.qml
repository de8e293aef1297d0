// SPDX-License-Identifier: GPL-3.0-or-later
pragma Singleton
import QtQuick 2.14

// The window's colours and sizes, in one place so that the documents agree.
// Start-up registers it as `Theme` in the Norvel module.
QtObject {
    // Colours
    readonly property color accent: "#064BC0"
    readonly property color danger: "#ba2d25"
    readonly property color success: "green"
    // A cancel and other news that is neither good nor bad.
    readonly property color mutedText: "#505050"
    // An edited value: the field's border and the bar beside a changed row.
    readonly property color warning: "#d9a441"
    readonly property color warningFill: "#fff3d6"
    readonly property color refusedDrop: "red"
    readonly property color background: "white"
    // Text and glyphs on a filled accent, danger or success colour.
    readonly property color textOnFill: "white"
    // Scroll bars, so that they show against white rows.
    readonly property color scrollTrack: "#e4e4e4"
    readonly property color scrollHandle: "#7a7a7a"

    // The thin line under headings and above the action bar, and the changed-row bar.
    readonly property int ruleWidth: 3
    readonly property int spacing: 10
    readonly property int smallSpacing: 8
    readonly property int largeSpacing: 20
    readonly property real disabledOpacity: 0.3

    // Buttons and fields
    readonly property int controlHeight: 40
    readonly property int buttonWidth: 100
    readonly property int buttonRadius: 2
    readonly property int fieldWidth: 180
    // The outline of the control with the keyboard focus.
    readonly property int focusWidth: 2
    readonly property int focusRingOffset: 4
    readonly property int focusRingRadius: 4
    readonly property int badgeSize: 40
    readonly property int toolTipDelay: 600
    readonly property int toolTipGap: 4
    // Details beside the main text, such as the About dialog's revision.
    readonly property int smallPrintSize: 11

    // Window layout
    // Wide enough for the settings panel beside the whole device table and
    // for the action bar's buttons beside its messages; tall for many rows.
    readonly property size preferredWindowSize: Qt.size(1040, 960)
    // The most of the screen's free room the window takes at first, each way.
    readonly property real largestScreenShare: 0.9
    // Below this the settings panel and the action bar would be cut off.
    readonly property size minimumWindowSize: Qt.size(640, 400)
    // The fields and their padding.
    readonly property int settingsWidth: 200
    readonly property int headingHeight: 50
    // One labelled setting; its field reaches past this width.
    readonly property int settingRowHeight: 80
    readonly property int settingRowWidth: 50
    readonly property int actionBarHeight: 60
    // The least room for the action bar's messages beside its buttons.
    readonly property int actionBarMessageRoom: 300
    // A failure's reason in the action bar; a longer one offers Details.
    readonly property int outcomeReasonLines: 3
    // The most of the window's width the whole reason takes in Details.
    readonly property real detailsWidthShare: 0.8
    readonly property int jobPopupWidth: 360
    // A problems dialog's list where the window gives no size of its own.
    readonly property size problemListDefaultSize: Qt.size(600, 300)

    // Device table
    readonly property int toolbarHeight: 50
    readonly property int searchWidth: 300
    // The × inside the search field.
    readonly property int clearButtonSize: 28
    readonly property int rowHeight: 50
    // Every column up to the badges fits beside the settings in a window on
    // a 1024×768 screen.
    readonly property int columnSpacing: 6
    readonly property int numberColumnWidth: 36
    readonly property int typeColumnWidth: 90
    readonly property int labelColumnWidth: 96
    readonly property int macColumnWidth: 115
    // New Label takes a label of 16 letters; New MAC both its fields.
    readonly property int labelFieldWidth: 130
    readonly property int editColumnWidth: 140
    readonly property int macPrefixWidth: 70
    readonly property int revertButtonSize: 24
    readonly property int issueBadgeSize: 20
    readonly property int changeBarGap: 2
    readonly property int scrollBarWidth: 12
    readonly property int scrollBarPadding: 2
    // Room for the vertical scroll bar beside the badge column.
    readonly property int scrollBarRoom: scrollBarWidth
}
