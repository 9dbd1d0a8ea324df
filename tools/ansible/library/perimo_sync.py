#!/usr/bin/python3
# Deploys a local folder to a Perimo agent through perimo-ws: only files whose SHA-1 differs
# are sent, so a second run with nothing changed reports changed=false.

DOCUMENTATION = r"""
module: perimo_sync
short_description: Keep a folder on a Perimo agent in step with a local folder
description:
  - Runs C(perimo-ws --json sync) against one agent. Files whose digest differs from the
    local file, or that the target lacks, are sent; with I(delete), remote files the local
    folder lacks are removed (files below folders named Bin or Drv are never listed, so never
    removed). Check mode runs a dry run and reports what would change.
options:
  src: {description: Local folder, required: true, type: path}
  dest: {description: Absolute folder on the target (C:\\... or \\...), required: true, type: str}
  agent: {description: Agent address HOST[:PORT], default: 127.0.0.1, type: str}
  user: {description: User name when the agent's security is on, type: str}
  password: {description: Password of that user, type: str, no_log: true}
  psk: {description: Pre-shared link key configured on the agent, type: str, no_log: true}
  delete: {description: Remove remote files the local folder lacks, default: false, type: bool}
  timeout: {description: Seconds to wait for a connection or a reply, default: 30, type: int}
  perimo_ws: {description: The perimo-ws program, default: perimo-ws, type: str}
"""

EXAMPLES = r"""
- name: Deploy the project
  perimo_sync:
    src: build/project
    dest: 'C:\Projects\Line7'
    agent: '{{ inventory_hostname }}'
    user: deploy
    password: '{{ vault_perimo_password }}'
    delete: true
"""

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(
            src=dict(type="path", required=True),
            dest=dict(type="str", required=True),
            agent=dict(type="str", default="127.0.0.1"),
            user=dict(type="str"),
            password=dict(type="str", no_log=True),
            psk=dict(type="str", no_log=True),
            delete=dict(type="bool", default=False),
            timeout=dict(type="int", default=30),
            perimo_ws=dict(type="str", default="perimo-ws"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    program = module.get_bin_path(p["perimo_ws"], required=True) \
        if os.sep not in p["perimo_ws"] else p["perimo_ws"]
    args = [program, "--json", "--host", p["agent"], "--timeout", str(p["timeout"])]
    env = {}
    psk_file = None
    if p["user"]:
        args += ["--user", p["user"]]
        # The password never goes on a command line.
        env["PERIMO_PASSWORD"] = p["password"] or ""
    if p["psk"]:
        psk_file = tempfile.NamedTemporaryFile("w", delete=False)
        psk_file.write(p["psk"] + "\n")
        psk_file.close()
        args += ["--psk-file", psk_file.name]
    args.append("sync")
    if p["delete"]:
        args.append("--delete")
    if module.check_mode:
        args.append("--dry-run")
    args += [p["src"], p["dest"]]
    try:
        rc, out, err = module.run_command(args, environ_update=env)
    finally:
        if psk_file:
            os.unlink(psk_file.name)
    result = None
    for line in out.splitlines():
        try:
            result = json.loads(line)
        except ValueError:
            continue
    if rc != 0 or result is None or not result.get("ok"):
        message = (result or {}).get("error") or err.strip() or "perimo-ws failed"
        module.fail_json(msg=message, rc=rc, stderr=err)
    module.exit_json(changed=bool(result.get("changed")), sent=result.get("sent", []),
                     deleted=result.get("deleted", []), unchanged=result.get("skipped", 0),
                     bytes=result.get("bytes", 0))


if __name__ == "__main__":
    main()
