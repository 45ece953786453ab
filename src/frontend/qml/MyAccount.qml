import QtQuick

// The My Account window: the account's name, address and a masked password, their editing, and the
// panel that changes the password. The window class writes `name` and `email` and answers the signals.
Item {
    id: myAccount

    property real scf: 1
    property int gradiendVar: 0
    property bool editing: false
    property bool isProcessing: false
    property bool updatingPassword: false
    property string passwordError: ""
    property alias name: nameField.value
    property alias email: emailField.value

    signal loaded()
    signal savePersonalInfo(string name, string email)
    signal updatePassword(string pass1, string pass2, string current_pass)
    signal discard()
    signal cancel()
    signal savedPersonalInfo(bool success)
    signal updatedPassword(string err)
    signal fieldError(string field)

    function clearErrors() {
        passwordError = ""
        for (const field of [currentPassword, newPassword, confirmPassword])
            field.isError = false
    }

    // A typed password is used once: changed, discarded or given up, it is not offered again.
    function leavePasswordPanel() {
        passwordField.value = ""
        updatingPassword = false
    }

    // Whatever an earlier visit left in the panel is not offered again.
    function openPasswordPanel() {
        newPassword.value = passwordField.value
        confirmPassword.value = ""
        currentPassword.value = ""
        clearErrors()
        updatingPassword = true
    }

    implicitWidth: 470 * scf
    implicitHeight: 600 * scf

    onLoaded: {
        gradientRefresh.restart()
        editing = false
        isProcessing = false
        updatingPassword = false
        passwordField.value = ""
        clearErrors()
    }
    onSavedPersonalInfo: (success) => {
        isProcessing = false
        if (!success)
            return
        editing = false
        if (passwordField.value !== "")
            openPasswordPanel()
    }
    onUpdatedPassword: (err) => {
        passwordError = err
        isProcessing = false
        if (err === "")
            leavePasswordPanel()
    }
    onFieldError: (field) => {
        const marked = { "pass": newPassword, "pass2": confirmPassword, "pass3": currentPassword }[field]
        if (marked)
            marked.isError = true
    }

    // Fills that match the background need the final layout's positions.
    Timer {
        id: gradientRefresh
        interval: 20
        onTriggered: myAccount.gradiendVar++
    }

    Properties { id: prop; scale: scf }
    Background { id: background }

    Item {
        id: mainView
        objectName: "mainView"
        anchors.fill: parent
        anchors.margins: 15 * scf
        visible: !myAccount.updatingPassword

        Item {
            id: header
            width: parent.width
            height: 47 * scf
            y: 10 * scf

            Btn {
                objectName: "homeButton"
                anchors.verticalCenter: parent.verticalCenter
                iconName: "home"
                iconWidth: 28 * scf
                iconHeight: 28 * scf
                onClicked: myAccount.cancel()
            }

            SectionLabel {
                anchors.centerIn: parent
                text: "MY ACCOUNT SETTINGS"
            }
        }

        Column {
            id: fields
            anchors.top: header.bottom
            anchors.topMargin: 40 * scf
            width: parent.width
            spacing: 20 * scf

            Row {
                width: parent.width
                spacing: 20 * scf

                TextField {
                    id: nameField
                    objectName: "nameField"
                    width: (parent.width - parent.spacing) / 2
                    label: "Name"
                    value: "Name"
                }

                TextField {
                    id: passwordField
                    objectName: "passwordField"
                    width: (parent.width - parent.spacing) / 2
                    label: "Password"
                }
            }

            TextField {
                id: emailField
                objectName: "emailField"
                label: "Email"
                value: "name@example.com"
            }
        }

        Item {
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 10 * scf
            width: parent.width
            height: 44 * scf

            Row {
                spacing: 15 * scf

                TextBtn {
                    objectName: "editButton"
                    width: 112 * scf
                    height: 44 * scf
                    text: "EDIT"
                    visible: !myAccount.editing
                    onClicked: myAccount.editing = true
                }

                TextBtn {
                    objectName: "saveButton"
                    width: 112 * scf
                    height: 44 * scf
                    text: "SAVE"
                    visible: myAccount.editing
                    onClicked: {
                        myAccount.isProcessing = true
                        myAccount.savePersonalInfo(myAccount.name, myAccount.email)
                    }
                }

                TextBtn {
                    objectName: "discardButton"
                    width: 112 * scf
                    height: 44 * scf
                    text: "DISCARD"
                    visible: myAccount.editing
                    onClicked: {
                        myAccount.editing = false
                        passwordField.value = ""
                        myAccount.discard()
                    }
                }
            }

            TextBtn {
                objectName: "cancelButton"
                anchors.right: parent.right
                width: 112 * scf
                height: 44 * scf
                text: "CANCEL"
                onClicked: {
                    myAccount.editing = false
                    myAccount.cancel()
                }
            }
        }
    }

    Column {
        id: passwordPanel
        objectName: "passwordPanel"
        anchors.centerIn: parent
        visible: myAccount.updatingPassword
        spacing: 0

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Password Updating"
            color: "white"
            font: prop.fonts.font16_21
        }
        Item { width: 1; height: 10 * scf; visible: myAccount.passwordError === "" }
        AuthErrorBox {
            objectName: "passwordErrorBox"
            anchors.horizontalCenter: parent.horizontalCenter
            error: myAccount.passwordError
        }
        AuthField {
            id: currentPassword
            objectName: "currentPassword"
            anchors.horizontalCenter: parent.horizontalCenter
            label: "Old Password (Current)"
            isPassword: true
            onTab: newPassword.focusInput()
        }
        AuthField {
            id: newPassword
            objectName: "newPassword"
            anchors.horizontalCenter: parent.horizontalCenter
            label: "New Password"
            isPassword: true
            onTab: confirmPassword.focusInput()
        }
        AuthField {
            id: confirmPassword
            objectName: "confirmPassword"
            anchors.horizontalCenter: parent.horizontalCenter
            label: "Confirm New Password"
            isPassword: true
        }
        Item { width: 1; height: 25 * scf }
        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 15 * scf

            TextBtn {
                objectName: "submitButton"
                width: 140 * scf
                height: 40 * scf
                text: "SUBMIT"
                onClicked: {
                    myAccount.isProcessing = true
                    myAccount.clearErrors()
                    myAccount.updatePassword(newPassword.value, confirmPassword.value, currentPassword.value)
                }
            }

            TextBtn {
                objectName: "panelCancelButton"
                width: 140 * scf
                height: 40 * scf
                text: "CANCEL"
                onClicked: {
                    myAccount.clearErrors()
                    myAccount.leavePasswordPanel()
                }
            }
        }
    }

    LoadingHover {
        objectName: "loadingCover"
        visible: myAccount.isProcessing
    }
}
