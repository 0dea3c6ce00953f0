# Signs one Windows file with the community's code-signing certificate (the workflow's signing
# steps call it). The certificate's password comes in SIGNING_PASSWORD and the timestamp server
# in TIMESTAMP_URL, never on a command line that the log would show.
param(
    [Parameter(Mandatory)] [string] $Tool,
    [Parameter(Mandatory)] [string] $Certificate,
    [Parameter(Mandatory)] [string] $File
)
$arguments = @("sign", "/fd", "SHA256", "/f", $Certificate)
if ($env:SIGNING_PASSWORD) {
    $arguments += @("/p", $env:SIGNING_PASSWORD)
}
if ($env:TIMESTAMP_URL) {
    $arguments += @("/tr", $env:TIMESTAMP_URL, "/td", "SHA256")
} else {
    # Without a timestamp the signature is worth nothing once the certificate has expired.
    Write-Output "::warning::No VESTRAHAL_TIMESTAMP_URL variable: $File is signed without a timestamp."
}
& $Tool @arguments $File
if ($LASTEXITCODE -ne 0) {
    Write-Output "::error::signtool could not sign $File"
    exit $LASTEXITCODE
}
Write-Output "Signed: $File"
