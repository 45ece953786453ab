import QtQuick

// A captioned value of the My Account window: an input while the account is being edited,
// otherwise a read-only box.
Item {
    id: field

    property string label
    property alias value: input.text

    // Outside the My Account window there is no `myAccount`: then the value is only shown.
    readonly property bool editing: typeof myAccount !== "undefined" && myAccount !== null
                                    && myAccount.editing === true
    readonly property bool isPassword: label === "Password"
    // Shows a typed password in clear; every editing starts with it hidden again.
    property bool passwordVisible: false

    onEditingChanged: passwordVisible = false

    width: parent ? parent.width : implicitWidth
    height: caption.height + 37 * scf

    Column {
        width: parent.width
        spacing: 5 * scf

        Text {
            id: caption
            text: field.label + ":"
            color: "white"
            font: prop.fonts.font11_15
        }

        Rectangle {
            width: parent.width
            height: 32 * scf
            color: "white"
            visible: field.editing

            TextInput {
                id: input
                objectName: "valueInput"
                anchors.fill: parent
                anchors.leftMargin: 10 * scf
                anchors.rightMargin: (field.isPassword ? 30 : 10) * scf
                verticalAlignment: TextInput.AlignVCenter
                horizontalAlignment: TextInput.AlignHCenter
                clip: true
                color: "black"
                font: prop.fonts.font11_15
                echoMode: field.isPassword && !field.passwordVisible ? TextInput.Password : TextInput.Normal
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

        Rectangle {
            width: parent.width
            height: 32 * scf
            visible: !field.editing
            gradient: Gradient {
                GradientStop { position: 0.0; color: "#fcfcfc" }
                GradientStop { position: 1.0; color: "#4c4c4c" }
            }

            Rectangle {
                anchors.fill: parent
                anchors.margins: 1
                gradient: Gradient {
                    GradientStop { position: 0.0; color: "#abbed1" }
                    GradientStop { position: 0.264; color: "#6788a9" }
                    GradientStop { position: 0.764; color: "#385d89" }
                    GradientStop { position: 1.0; color: "#274c7d" }
                }
            }

            Text {
                objectName: "valueText"
                anchors.fill: parent
                anchors.leftMargin: 10 * scf
                anchors.rightMargin: 10 * scf
                verticalAlignment: Text.AlignVCenter
                horizontalAlignment: Text.AlignHCenter
                elide: Text.ElideRight
                color: "white"
                font: prop.fonts.font11_15
                text: field.isPassword ? "******" : field.value
            }
        }
    }
}
