import QtQuick

// Covers the main window while nobody is signed in: sign in, register, recover and new password
// share one column; the code form is a second one.
Item {
    id: layer

    property bool isProgress: false
    property string layerMode: "basic"
    property string mode: "login"
    property string error: ""
    // Good news for the form on show; goes with the next submission or form, as errors do.
    property string notice: ""

    signal resetAllFields()
    signal setFieldError(string field)

    function resetErrors() {
        error = ""
        notice = ""
        for (const input of [name, email, password, password2, code])
            input.isError = false
    }

    function submit() {
        isProgress = true
        resetErrors()
        if (mode === "login")
            error = auth.login(email.value, password.value)
        else if (mode === "register")
            error = auth.registration(name.value, email.value, password.value, password2.value)
        else if (mode === "recover")
            error = auth.recover(email.value)
        else if (mode === "create new password")
            error = auth.reSetPassword(password.value, password2.value)
        isProgress = false
    }

    // Every form opens with its passwords hidden, whatever the eye showed before.
    function hidePasswords() {
        password.passwordVisible = false
        password2.passwordVisible = false
    }

    // The login form with `address` filled in, saying `message` (may be empty).
    function showLogin(address, message) {
        resetAllFields()
        layerMode = "basic"
        mode = "login"
        resetErrors()
        email.value = address
        notice = message
        if (address !== "")
            password.focusInput()
    }

    function submitCode() {
        isProgress = true
        resetErrors()
        error = auth.checkCode(code.value)
        isProgress = false
    }

    anchors.fill: parent
    visible: !prop.isActiveProduct

    onModeChanged: {
        resetErrors()
        hidePasswords()
    }
    onLayerModeChanged: hidePasswords()
    onVisibleChanged: hidePasswords()
    onResetAllFields: {
        for (const input of [name, email, password, password2, code])
            input.value = ""
    }
    onSetFieldError: (field) => {
        const marked = { "name": name, "email": email, "pass": password, "pass2": password2 }[field]
        if (marked)
            marked.isError = true
    }

    Background {}

    Column {
        id: basicForms
        objectName: "basicForms"
        visible: layer.layerMode === "basic"
        spacing: 0
        anchors.centerIn: parent
        anchors.verticalCenterOffset: layer.mode === "register" ? (height - layer.height) / 2 + 15 * scf : 0

        Text {
            objectName: "title"
            anchors.horizontalCenter: parent.horizontalCenter
            text: layer.mode
            color: "white"
            font.family: prop.fonts.font16_21.family
            font.pointSize: prop.fonts.font16_21.pointSize
            font.capitalization: Font.AllUppercase
        }
        AuthErrorBox {
            objectName: "errorBox"
            anchors.horizontalCenter: parent.horizontalCenter
            error: layer.error !== "" ? layer.error : layer.notice
            good: layer.error === ""
        }
        AuthField {
            id: name
            objectName: "name"
            onSubmitted: layer.submit()
            anchors.horizontalCenter: parent.horizontalCenter
            label: "Name"
            visible: layer.mode === "register"
            onTab: email.focusInput()
        }
        AuthField {
            id: email
            objectName: "email"
            onSubmitted: layer.submit()
            anchors.horizontalCenter: parent.horizontalCenter
            label: "Email"
            visible: layer.mode !== "create new password"
            onTab: if (password.visible) password.focusInput()
        }
        AuthField {
            id: password
            objectName: "password"
            onSubmitted: layer.submit()
            anchors.horizontalCenter: parent.horizontalCenter
            label: layer.mode === "create new password" ? "New Password" : "Password"
            isPassword: true
            visible: layer.mode !== "recover"
            onTab: if (password2.visible) password2.focusInput()
        }
        AuthField {
            id: password2
            objectName: "password2"
            onSubmitted: layer.submit()
            anchors.horizontalCenter: parent.horizontalCenter
            label: "Confirm Password"
            isPassword: true
            visible: layer.mode === "register" || layer.mode === "create new password"
        }
        Item { width: 1; height: 2 * scf }
        TextClicked {
            objectName: "forgotLink"
            anchors.right: parent.right
            text: "Forgot Password?"
            visible: layer.mode === "login"
            onClicked: layer.mode = "recover"
        }
        Item { width: 1; height: 20 * scf }
        TextBtn {
            objectName: "submit"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 140 * scf
            height: 40 * scf
            text: "SUBMIT"
            onClicked: layer.submit()
        }
    }

    // Every form has a way out; the code and new-password forms lead back to the login form.
    TextClicked {
        objectName: "cornerLink"
        anchors.right: parent.right
        anchors.rightMargin: 15 * scf
        anchors.bottom: parent.bottom
        anchors.bottomMargin: (layer.mode === "register" ? 10 : 25) * scf
        horizontalAlignment: Text.AlignRight
        font.pointSize: prop.fonts.font11_15.pointSize
        text: layer.mode === "register" ? "Already a User?\nClick Here to Login"
            : layer.mode === "login" ? "New User? Click Here to Register"
            : "Don't need to recover access? Click Here to Login"
        onClicked: {
            layer.layerMode = "basic"
            layer.mode = layer.mode === "login" ? "register" : "login"
        }
    }

    Column {
        objectName: "codeForm"
        visible: layer.layerMode === "code_form"
        spacing: 0
        anchors.centerIn: parent

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Recover"
            color: "white"
            font.family: prop.fonts.font16_21.family
            font.pointSize: prop.fonts.font16_21.pointSize
            font.capitalization: Font.AllUppercase
        }
        Item { width: 1; height: 10 * scf }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            horizontalAlignment: Text.AlignHCenter
            text: "A 6-digit code has been sent to your email.\nPlease enter it in the field below\nto reset your password."
            color: "white"
            font: prop.fonts.font11_15
        }
        Item { width: 1; height: 20 * scf }
        AuthErrorBox {
            objectName: "codeErrorBox"
            anchors.horizontalCenter: parent.horizontalCenter
            error: layer.error
        }
        AuthField {
            id: code
            objectName: "code"
            onSubmitted: layer.submitCode()
            anchors.horizontalCenter: parent.horizontalCenter
            label: "Enter code from email"
        }
        Item { width: 1; height: 40 * scf }
        TextBtn {
            objectName: "codeSubmit"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 140 * scf
            height: 40 * scf
            text: "SUBMIT"
            onClicked: layer.submitCode()
        }
    }

    LoadingHover {
        visible: layer.isProgress
    }
}
