@echo off
rem Registers the embedded MapInfo runtime ("MapInfo.Runtime") for every user of this
rem computer, so Tallomir can package workspaces where MapInfo Pro is not installed.
rem Run it once as an administrator. "register-runtime.cmd /u" removes the registration.
if /i "%~1"=="/u" (
  regsvr32 /s /u "%~dp0MapInfo.Runtime.dll"
) else (
  regsvr32 /s "%~dp0MapInfo.Runtime.dll"
)
if errorlevel 1 (
  echo The MapInfo runtime could not be registered. Run this script as an administrator.
  exit /b 1
)
echo Done.
