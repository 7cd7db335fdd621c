% octave_package_test (tarball, work_dir): pkg install into a prefix and
% package lists of its own below work_dir (the user's ~/.octave and the
% system's list stay untouched), pkg load, then the module from the package,
% its test blocks (test Brelvane, test BrelvaneEigs) and its demos.
function octave_package_test (tarball, work_dir)
  if (isfolder (work_dir))
    confirm_recursive_rmdir (false, "local");
    rmdir (work_dir, "s");
  end
  mkdir (work_dir);
  pkg ("prefix", fullfile (work_dir, "share"), fullfile (work_dir, "lib"));
  pkg ("local_list", fullfile (work_dir, "octave_packages"));
  pkg ("global_list", fullfile (work_dir, "global_octave_packages"));
  pkg ("install", "-local", tarball);
  pkg ("load", "brelvane");
  list = pkg ("list");
  assert (numel (list) == 1 && strcmp (list{1}.name, "brelvane"));
  printf ("installed %s %s in %s\n", list{1}.name, list{1}.version, list{1}.dir);
  check_installed_module (work_dir);
  [passed, total] = test ("Brelvane", "quiet", stdout);
  assert (passed == total && total >= 6, "test Brelvane: %d of %d passed", passed, total);
  demo ("Brelvane", 1);
  demo ("Brelvane", 2);
  [passed, total] = test ("BrelvaneEigs", "quiet", stdout);
  assert (passed == total && total >= 5, "test BrelvaneEigs: %d of %d passed", passed, total);
  demo ("BrelvaneEigs", 1);
end
