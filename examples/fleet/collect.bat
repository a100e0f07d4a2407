@echo off
rem Run on each old PC, logged on as the user whose settings move: collects into the user's
rem folder on the share. KDR4_SHARE names the share's folder of user folders.
setlocal
if not defined KDR4_SHARE set KDR4_SHARE=\\server\share\kdr4
set TOOL=%~dp0kdr4tose-cli.exe
set WORK=%KDR4_SHARE%\%USERNAME%
if not exist "%WORK%\" mkdir "%WORK%"
if not exist "%WORK%\" exit /b 64
"%TOOL%" --work-dir "%WORK%" --json collect > "%WORK%\collect.json" 2> "%WORK%\collect.err"
set RC=%ERRORLEVEL%
rem The redirection first: "echo ... %RC%>> file" reads a one-digit code as a handle.
>> "%WORK%\results.txt" echo %DATE% %TIME% %COMPUTERNAME% collect %RC%
exit /b %RC%
