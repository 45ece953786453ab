import QtQuick

// A labelled input of the sign-in forms.
Column {
    id: field

    property string label
    property alias value: input.text
    property bool isPassword: false
    property bool isError: false
    property bool passwordVisible: false
    readonly property alias input: input

    signal tab()
    signal focusInput()
    // Return or the keypad's Enter in the input.
    signal submitted()

    topPadding: 10 * scf
    spacing: 3 * scf
    onFocusInput: input.forceActiveFocus()

    Text {
        text: field.label + ":"
        color: "white"
        font: prop.fonts.font11_15
    }

    Rectangle {
        objectName: "box"
        width: 250 * scf
        height: 32 * scf
        color: "white"
        clip: true
        border.width: 1
        border.color: field.isError ? "red" : "white"

        TextInput {
            id: input
            anchors.verticalCenter: parent.verticalCenter
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: 10 * scf
            anchors.rightMargin: (field.isPassword ? 30 : 10) * scf
            font: prop.fonts.font11_15
            color: "black"
            clip: true
            selectByMouse: true
            echoMode: field.isPassword && !field.passwordVisible ? TextInput.Password : TextInput.Normal
            Keys.onTabPressed: field.tab()
            onAccepted: field.submitted()
        }

        Btn {
            objectName: "eye"
            visible: field.isPassword
            iconName: field.passwordVisible ? "password-hidden" : "password-visible"
            iconWidth: 20 * scf
            iconHeight: 16 * scf
            anchors.right: parent.right
            anchors.rightMargin: 5 * scf
            anchors.verticalCenter: parent.verticalCenter
            onClicked: field.passwordVisible = !field.passwordVisible
        }
    }
}
